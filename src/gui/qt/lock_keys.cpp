#include "gui/qt/lock_keys.h"

#include <QGuiApplication>

#if __has_include(<X11/XKBlib.h>)
#include <X11/XKBlib.h>
#define QUORVANE_HAVE_XKB 1
#endif

LockKeyState QueryLockKeys() {
    LockKeyState keys;
#ifdef QUORVANE_HAVE_XKB
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->display() == nullptr) {
        return keys;
    }
    unsigned int state = 0;
    if (XkbGetIndicatorState(x11->display(), XkbUseCoreKbd, &state) != Success) {
        return keys;
    }
    // The core keyboard's indicators in their usual order.
    keys.caps = (state & 0x1U) != 0;
    keys.num = (state & 0x2U) != 0;
    keys.scroll = (state & 0x4U) != 0;
#endif
    return keys;
}
