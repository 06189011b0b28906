#include "gui/qt/termination.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>

namespace {

int g_signal_pipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler; the window's thread reads it.
    [[maybe_unused]] const ssize_t written = ::write(g_signal_pipe[1], &byte, 1);
}

void CloseModalWindows() {
    while (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        if (QApplication::activeModalWidget() == modal) {
            break;  // refuses to close; leave it
        }
    }
}

}  // namespace

void CloseOnTerminationSignals(QWidget* main_window) {
    if (g_signal_pipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, main_window);
    QPointer<QWidget> window(main_window);
    QObject::connect(notifier, &QSocketNotifier::activated, main_window, [window] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_signal_pipe[0], &byte, 1);
        CloseModalWindows();
        // Closed once the modal windows' own loops have returned.
        QMetaObject::invokeMethod(
            qApp,
            [window] {
                if (window != nullptr) {
                    window->close();
                }
            },
            Qt::QueuedConnection);
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
