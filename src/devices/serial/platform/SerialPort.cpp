// SPDX-License-Identifier: Apache-2.0
#include "devices/serial/platform/SerialPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static_assert(sizeof(termios) <= 128, "saved termios does not fit");

namespace {

struct TRate {
    std::uint32_t Baud;
    speed_t Code;
};

constexpr TRate Rates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

int ErrnoOr(int result) {
    return result < 0 ? errno : 0;
}

int SetModemLine(int fd, int bit, bool on) {
    const int r = ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
    // Pseudo-terminals and some adapters have no modem lines.
    if (r < 0 && (errno == ENOTTY || errno == EINVAL))
        return 0;
    return ErrnoOr(r);
}

} // namespace

TSerialPort::~TSerialPort() {
    Close();
}

bool TSerialPort::IsStandardRate(std::uint32_t baud) {
    for (const TRate& r : Rates)
        if (r.Baud == baud)
            return true;
    return false;
}

bool TSerialPort::IsGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

int TSerialPort::Open(const QByteArray& path) {
    Close();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    if (!::isatty(fd))
        error = ENOTTY;
    // flock catches holders TIOCEXCL lets through (root, our own process).
    else if (::flock(fd, LOCK_EX | LOCK_NB) < 0)
        error = errno;
    else if (::ioctl(fd, TIOCEXCL) < 0)
        error = errno;
    termios saved{};
    if (!error && ::tcgetattr(fd, &saved) < 0)
        error = errno;
    const int wake = error ? -1 : ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!error && wake < 0)
        error = errno;
    if (error) {
        ::close(fd);
        return error;
    }
    std::memcpy(FSaved, &saved, sizeof saved);
    FSavedValid = true;
    FFd = fd;
    FWakeFd = wake;
    FCountsValid = false;
    std::uint32_t ignored = 0;
    LineErrors(ignored, true);
    return 0;
}

void TSerialPort::Close() {
    if (FFd >= 0) {
        if (FSavedValid) {
            termios saved{};
            std::memcpy(&saved, FSaved, sizeof saved);
            ::tcsetattr(FFd, TCSANOW, &saved);
        }
        ::ioctl(FFd, TIOCNXCL);
        ::close(FFd); // also drops the flock
        FFd = -1;
    }
    if (FWakeFd >= 0) {
        ::close(FWakeFd);
        FWakeFd = -1;
    }
    FSavedValid = false;
}

int TSerialPort::SetLine(const TLine& line) {
    if (FFd < 0)
        return EBADF;
    termios t{};
    if (::tcgetattr(FFd, &t) < 0)
        return errno;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (line.DataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    case 8:
        t.c_cflag |= CS8;
        break;
    default:
        return EINVAL; // termios knows no 4-bit characters
    }
    switch (line.Parity) {
    case 0:
        break;
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        return EINVAL;
    }
    switch (line.StopBits) {
    case 0:
        break;
    case 2:
        t.c_cflag |= CSTOPB;
        break;
    default:
        return EINVAL; // one and a half stop bits do not exist here
    }
    if (line.CtsFlow || line.Rts == 2)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (line.XonXoffOut)
        t.c_iflag |= IXON;
    if (line.XonXoffIn)
        t.c_iflag |= IXOFF;
    if (line.ParityCheck)
        t.c_iflag |= INPCK;
    t.c_cc[VSTART] = line.XonChar;
    t.c_cc[VSTOP] = line.XoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    std::uint32_t standard = 0;
    for (const TRate& r : Rates)
        if (r.Baud == line.Baud)
            standard = r.Code;
    if (standard) {
        ::cfsetispeed(&t, standard);
        ::cfsetospeed(&t, standard);
    }
    if (::tcsetattr(FFd, TCSANOW, &t) < 0)
        return errno;
    if (!standard)
        if (const int e = SetCustomBaudrate(FFd, line.Baud))
            return e;
    if (line.Dtr != 2)
        if (const int e = SetModemLine(FFd, TIOCM_DTR, line.Dtr == 1))
            return e;
    if (line.Rts == 0 || line.Rts == 1)
        if (const int e = SetModemLine(FFd, TIOCM_RTS, line.Rts == 1))
            return e;
    return 0;
}

int TSerialPort::InputCount(int& count) const {
    count = 0;
    return ErrnoOr(::ioctl(FFd, FIONREAD, &count));
}

int TSerialPort::OutputCount(int& count) const {
    count = 0;
    return ErrnoOr(::ioctl(FFd, TIOCOUTQ, &count));
}

int TSerialPort::Read(std::uint8_t* buffer, int count, int& got) {
    got = 0;
    if (count <= 0)
        return 0;
    const ssize_t n = ::read(FFd, buffer, static_cast<size_t>(count));
    if (n > 0) {
        got = static_cast<int>(n);
        return 0;
    }
    if (n == 0)
        return 0;
    return errno == EAGAIN || errno == EINTR ? 0 : errno;
}

int TSerialPort::Write(const std::uint8_t* buffer, int count, int& written) {
    written = 0;
    if (count <= 0)
        return 0;
    const ssize_t n = ::write(FFd, buffer, static_cast<size_t>(count));
    if (n >= 0) {
        written = static_cast<int>(n);
        return 0;
    }
    return errno == EAGAIN || errno == EINTR ? 0 : errno;
}

TSerialPort::TWait TSerialPort::Wait(short events, int timeoutMs) const {
    pollfd fds[2] = {{FFd, events, 0}, {FWakeFd, POLLIN, 0}};
    for (;;) {
        const int r = ::poll(fds, 2, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return TWait::Failed;
        if (r == 0)
            return TWait::Timeout;
        if (fds[1].revents)
            return TWait::Woken;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return TWait::Hangup;
        return TWait::Ready;
    }
}

void TSerialPort::Wake() {
    if (FWakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(FWakeFd, &one, sizeof one);
    }
}

int TSerialPort::LineErrors(std::uint32_t& flags, bool take) {
    flags = 0;
    std::lock_guard<std::mutex> lock(FCountsLock);
    serial_icounter_struct now{};
    if (::ioctl(FFd, TIOCGICOUNT, &now) < 0) {
        // No counters is no error; anything else is.
        return errno == ENOTTY || errno == EINVAL ? 0 : errno;
    }
    if (FCountsValid) {
        if (now.frame != FCounts.Frame)
            flags |= CE_FRAME;
        if (now.overrun != FCounts.Overrun)
            flags |= CE_OVERRUN;
        if (now.parity != FCounts.Parity)
            flags |= CE_RXPARITY;
        if (now.brk != FCounts.Brk)
            flags |= CE_BREAK;
        if (now.buf_overrun != FCounts.BufOverrun)
            flags |= CE_RXOVER;
    }
    if (take || !FCountsValid) {
        FCounts = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun};
        FCountsValid = true;
    }
    return 0;
}
