// quorvane-screenshot: starts the real window as `quorvane /AUTO` would, in
// the current directory and without a display, waits until acquisition has
// shown its status (optionally its first minute update), saves a picture of
// the whole window and closes it as the close box does.
//
//   quorvane-screenshot OUTPUT.png [--after-update]
#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "acquisition/status.h"
#include "app/quorvane_app.h"
#include "gui/qt/main_window.h"
#include "gui/qt/qt_front_end.h"

namespace {

bool Shows(StatusIndex index, const char* word) {
    std::lock_guard<std::mutex> lock(StatusLock);
    return StatusText(index).find(word) != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorvane-screenshot OUTPUT.png [--after-update]\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const bool after_update = argc > 2 && std::strcmp(argv[2], "--after-update") == 0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication toolkit(argc, argv);
    QtFrontEnd front_end;
    CQuorvaneApp app(front_end);
    front_end.SetApplication(app);
    if (!app.InitInstance({"/AUTO"})) {
        return 1;
    }
    int saved = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool ready =
            after_update ? Shows(kStatusLastUpdate, "UTC") : Shows(kStatusReceivedData, "UTC");
        if (!ready) {
            return;
        }
        poll.stop();
        front_end.Window()->repaint();
        saved = front_end.Window()->grab().save(output, "PNG") ? 0 : 1;
        front_end.Window()->close();
    });
    poll.start(100);
    QApplication::exec();
    app.ExitInstance();
    return saved;
}
