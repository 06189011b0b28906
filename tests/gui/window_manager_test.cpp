// The window and the About box on a real X server under a window manager
// (twm), which frames them after they are shown.
#include "window_manager.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QRect>
#include <QTest>
#include <memory>
#include <string>

#include "app/quorvane_app.h"
#include "dialog_checks.h"
#include "gui/qt/dialogs.h"
#include "gui/qt/main_window.h"
#include "gui/qt/qt_front_end.h"
#include "support/station.h"

#ifdef QUORVANE_HAVE_XLIB
#include <X11/Xlib.h>
#endif

namespace {

constexpr int kDeadlineMs = 30000;

#ifdef QUORVANE_HAVE_XLIB
// Where the X server has the window's outermost window: the window manager's
// frame (the ancestor that is a child of the root window), its border
// included. Nothing while the window has not been framed.
std::optional<QRect> FrameOnScreen(WId window) {
    Display* display = XOpenDisplay(WindowManagerDisplay().c_str());
    if (display == nullptr) {
        return std::nullopt;
    }
    Window current = static_cast<Window>(window);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    bool framed = false;
    while (XQueryTree(display, current, &root, &parent, &children, &count) != 0) {
        if (children != nullptr) {
            XFree(children);
        }
        if (parent == root || parent == 0) {
            break;
        }
        current = parent;
        framed = true;
    }
    std::optional<QRect> frame;
    XWindowAttributes attributes{};
    if (framed && XGetWindowAttributes(display, current, &attributes) != 0) {
        const int border = attributes.border_width;
        frame = QRect(attributes.x, attributes.y, attributes.width + 2 * border,
                      attributes.height + 2 * border);
    }
    XCloseDisplay(display);
    return frame;
}
#else
std::optional<QRect> FrameOnScreen(WId) {
    return std::nullopt;
}
#endif

std::string Describe(const std::optional<QRect>& rect) {
    if (!rect) {
        return "not framed";
    }
    return std::to_string(rect->width()) + "x" + std::to_string(rect->height()) + " at " +
           std::to_string(rect->x()) + "," + std::to_string(rect->y());
}

class ManagedDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        if (!WindowManagerUnavailable().empty()) {
            GTEST_SKIP() << "no X server with a window manager: " << WindowManagerUnavailable();
        }
    }
};

TEST_F(ManagedDisplay, WindowIs567By259WithItsFrameCentredAtTheTop) {
    testing_support::Station station;
    station.WriteIni(station.ValidIni());
    QtFrontEnd front_end;
    CQuorvaneApp app(front_end);
    front_end.SetApplication(app);
    ASSERT_TRUE(app.InitInstance({}));
    MainWindow* window = front_end.Window();

    // The screen is 1032 pixels wide: x = 516 - 283.
    const QRect expected(233, 0, 567, 259);
    std::optional<QRect> frame;
    const bool fitted = QTest::qWaitFor(
        [&] {
            frame = FrameOnScreen(window->winId());
            return frame == expected;
        },
        kDeadlineMs);
    EXPECT_TRUE(fitted) << "the frame is " << Describe(frame);
    EXPECT_EQ(Describe(window->frameGeometry()), Describe(expected)) << "as the toolkit sees it";
    window->close();
}

TEST_F(ManagedDisplay, AboutBoxShowsItsCreditLinesWhole) {
    AboutDialog dialog(nullptr);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog, kDeadlineMs));
    std::optional<QRect> frame;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            frame = FrameOnScreen(dialog.winId());
            return frame.has_value();
        },
        kDeadlineMs));
    // The window manager framed the box without making it smaller.
    EXPECT_GE(frame->width(), dialog.width()) << Describe(frame);
    EXPECT_GE(frame->height(), dialog.height()) << Describe(frame);
    ExpectAboutBoxTextsWhole(dialog);
}

}  // namespace
