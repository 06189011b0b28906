// The Qt tests run on the offscreen platform, on one screen 1032 pixels wide.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <string>

// Sanitizer builds. Qt's own locks are futexes that ThreadSanitizer does not
// see when Qt itself is not instrumented, so the events posted to the window
// from the acquisition thread look like races inside Qt. A process that ends
// with ExitProcess while its window is up leaves the font library's caches
// behind; the toolkit frees them only when it is torn down.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "race:libQt6Core.so.6\n";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

int main(int argc, char** argv) {
    // One file per process: test processes run side by side.
    const auto screens = std::filesystem::temp_directory_path() /
                         ("quorvane-gui-test-screen-" + std::to_string(getpid()) + ".json");
    {
        std::ofstream out(screens);
        out << R"({"screens":[{"name":"station","x":0,"y":0,"width":1032,"height":768,)"
            << R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})";
    }
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + screens.string().c_str());
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    std::filesystem::remove(screens);  // read while the platform starts
    return RUN_ALL_TESTS();
}
