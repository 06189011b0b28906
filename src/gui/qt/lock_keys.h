// The state of the Caps, Num and Scroll Lock keys, where the window system
// tells it (X11); all off elsewhere.
#pragma once

#include "app/main_frame.h"

LockKeyState QueryLockKeys();
