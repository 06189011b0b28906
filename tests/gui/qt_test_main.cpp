// The Qt tests run on the offscreen platform, on one screen 1032 pixels wide.
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    const auto screens = std::filesystem::temp_directory_path() / "quorvane-gui-test-screen.json";
    {
        std::ofstream out(screens);
        out << R"({"screens":[{"name":"station","x":0,"y":0,"width":1032,"height":768,)"
            << R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})";
    }
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + screens.string().c_str());
    // For the child processes that end with the window up (sanitizer builds).
    qputenv("LSAN_OPTIONS", "suppressions=" QUORVANE_LSAN_SUPPRESSIONS);
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
