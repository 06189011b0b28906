#include "scripted_front_end.h"

#include <gtest/gtest.h>

namespace testing_support {

const PageText& RecordingCanvas::At(int x, int y) const {
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
        if (it->x == x && it->y == y) {
            return *it;
        }
    }
    ADD_FAILURE() << "nothing drawn at (" << x << ", " << y << ")";
    static const PageText none{0, 0, "", {0, 0, 0}};
    return none;
}

}  // namespace testing_support
