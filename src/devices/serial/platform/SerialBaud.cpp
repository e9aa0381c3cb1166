// SPDX-License-Identifier: Apache-2.0
// The kernel's termios2 and the C library's termios cannot be declared in one translation unit.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

int SetCustomBaudrate(int fd, std::uint32_t baud) {
    if (baud == 0)
        return EINVAL;
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) < 0)
        return errno;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_cflag &= ~(CBAUD << IBSHIFT);
    t.c_cflag |= BOTHER << IBSHIFT;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &t) < 0)
        return errno;
    return 0;
}
