// Line speeds through termios2. The kernel's <asm/termbits.h> clashes with the
// C library's <termios.h>, so this file includes only the former.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace platform::posix {

int SetLineSpeed(int fd, uint32_t speed) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return -1;
    }
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = speed;
    t.c_ospeed = speed;
    return ioctl(fd, TCSETS2, &t);
}

uint32_t GetLineSpeed(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return 0;
    }
    return t.c_ospeed;
}

}  // namespace platform::posix
