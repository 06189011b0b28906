// The Qt tests that need a real X server with a window manager: this program
// starts its own Xvfb (one screen 1032 pixels wide) and twm on it, and the
// toolkit's xcb platform talks to them. Where either cannot be started the
// tests skip, saying why (window_manager.h).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "window_manager.h"

#ifdef QUORVANE_HAVE_XLIB
#include <X11/Xlib.h>
#endif

extern char** environ;

// The sanitizer suppressions of the offscreen tests hold here too; the X
// client libraries and the message bus library that the xcb platform loads
// keep caches of their own until the process ends.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libQt6XcbQpa.so.6\n"
           "race:libQt6Core.so.6\n"
           // The X client libraries (libxcb, libX11 and its extension
           // libraries) are not instrumented: libxcb takes its own two locks
           // in either order, and Xlib's locks are taken where the sanitizer
           // does not see it.
           "deadlock:libxcb.so.1\n"
           "called_from_lib:libxcb.so.1\n"
           "called_from_lib:libX11.so.6\n"
           "called_from_lib:libXrender.so.1\n"
           "called_from_lib:libXfixes.so.3\n"
           "mutex:libX\n"
           // The xcb platform's event reader thread and GLib's main loop.
           "called_from_lib:libglib-2.0.so.0\n"
           "race:libglib-2.0.so.0\n";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libX11\n"
           "leak:libxcb\n"
           "leak:libQt6XcbQpa\n"
           "leak:libdbus-1\n";
}

namespace {

constexpr int kDeadlineMs = 30000;

std::string g_unavailable = "not set up";
std::string g_display;

bool IsOnSearchPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string directory = rest.substr(0, colon);
        if (!directory.empty() && ::access((directory + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return false;
}

pid_t Spawn(std::vector<std::string> arguments, int keep_fd = -1) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Their chatter (font warnings of twm) stays out of the test output.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (keep_fd < 0) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts Xvfb on a free display, which it reports on a pipe when it is ready
// for clients. The display name (":N"), or "" on failure.
std::string StartServer(pid_t& server) {
    int ready[2];
    if (::pipe(ready) != 0) {
        return "";
    }
    ::fcntl(ready[0], F_SETFD, FD_CLOEXEC);
    server = Spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1032x768x24",
                    "-nolisten", "tcp", "-noreset"},
                   ready[1]);
    ::close(ready[1]);
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeadlineMs);
    char c = 0;
    while (server > 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{ready[0], POLLIN, 0};
        if (::poll(&entry, 1, kDeadlineMs) <= 0 || ::read(ready[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    ::close(ready[0]);
    return number.empty() ? "" : ":" + number;
}

#ifdef QUORVANE_HAVE_XLIB
// A window manager has taken the root window's substructure redirection.
bool WaitForWindowManager(const std::string& display_name) {
    Display* display = XOpenDisplay(display_name.c_str());
    if (display == nullptr) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeadlineMs);
    bool managed = false;
    while (!managed && std::chrono::steady_clock::now() < deadline) {
        XWindowAttributes root{};
        XGetWindowAttributes(display, DefaultRootWindow(display), &root);
        managed = (root.all_event_masks & SubstructureRedirectMask) != 0;
    }
    XCloseDisplay(display);
    return managed;
}
#endif

void Stop(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

bool ListsTestsOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

const std::string& WindowManagerUnavailable() {
    return g_unavailable;
}

const std::string& WindowManagerDisplay() {
    return g_display;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    pid_t server = -1;
    pid_t manager = -1;
    const auto twmrc =
        std::filesystem::temp_directory_path() / ("quorvane-gui-twmrc-" + std::to_string(getpid()));
    if (ListsTestsOnly(argc, argv)) {
        g_unavailable = "tests only listed";
    } else if (!IsOnSearchPath("Xvfb") || !IsOnSearchPath("twm")) {
        g_unavailable = "Xvfb or twm is not installed (scripts/install-deps.sh installs both)";
    } else {
#ifdef QUORVANE_HAVE_XLIB
        g_display = StartServer(server);
        if (g_display.empty()) {
            g_unavailable = "Xvfb did not start";
        } else {
            // The core fonts of xfonts-base; without a file twm asks for fonts
            // that a plain server lacks, and ends.
            std::ofstream(twmrc) << "TitleFont \"fixed\"\nResizeFont \"fixed\"\nMenuFont "
                                    "\"fixed\"\nIconFont \"fixed\"\nIconManagerFont \"fixed\"\n"
                                    "RandomPlacement\n";
            ::setenv("DISPLAY", g_display.c_str(), 1);
            ::setenv("LC_ALL", "C", 1);  // twm's font sets: the C locale has all it needs
            manager = Spawn({"twm", "-display", g_display, "-f", twmrc.string()});
            ::unsetenv("LC_ALL");
            if (manager <= 0 || !WaitForWindowManager(g_display)) {
                g_unavailable = "twm did not take over the display " + g_display;
            } else {
                g_unavailable.clear();
            }
        }
#else
        g_unavailable = "built without the X11 client library";
#endif
    }
    if (g_unavailable.empty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int status = 0;
    {
        QApplication application(argc, argv);
        status = RUN_ALL_TESTS();
    }
    Stop(manager);
    Stop(server);
    std::filesystem::remove(twmrc);
    return status;
}
