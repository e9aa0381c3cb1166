// SPDX-License-Identifier: Apache-2.0
#include "SimSerial.h"

#include <QFile>

#include <cstdio>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

speed_t SpeedCode(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return 0;
    }
}

bool MakeRaw(int fd, speed_t speed) {
    termios t{};
    if (::tcgetattr(fd, &t) < 0)
        return false;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (speed) {
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
    }
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

TSimSerialLink::TSimSerialLink(TGripperModel& model, TSimSerialPort& port)
    : TSimLink(model, &port), FPort(port) {}

QString TSimSerialLink::Name() const {
    return QStringLiteral("serial %1").arg(FPort.Path());
}

qint64 TSimSerialLink::Backlog() const {
    return FPort.FOut.size();
}

void TSimSerialLink::WriteFrame(const TByteArray& frame) {
    FPort.Send(frame);
}

void TSimSerialLink::CloseLink() {
    // A line cannot be hung up from this end: the link forgets its state instead.
    MarkClosed();
    deleteLater();
}

TSimSerialPort::TSimSerialPort(TGripperModel& model, QObject* parent)
    : QObject(parent), FModel(model) {}

TSimSerialPort::~TSimSerialPort() {
    FReadNotifier.reset();
    FWriteNotifier.reset();
    if (FSlaveFd >= 0)
        ::close(FSlaveFd);
    if (FFd >= 0)
        ::close(FFd);
}

bool TSimSerialPort::OpenPty() {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::grantpt(fd) < 0 || ::unlockpt(fd) < 0) {
        FError = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        FError = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    FSlaveFd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FSlaveFd < 0 || !MakeRaw(FSlaveFd, 0)) {
        FError = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    FPath = QString::fromLocal8Bit(name);
    Start(fd);
    return true;
}

bool TSimSerialPort::OpenDevice(const QString& path, int baud) {
    const speed_t speed = SpeedCode(baud);
    if (!speed) {
        FError = QStringLiteral("unsupported rate %1").arg(baud);
        return false;
    }
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || !MakeRaw(fd, speed)) {
        FError = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    FPath = path;
    Start(fd);
    return true;
}

void TSimSerialPort::Start(int fd) {
    FFd = fd;
    FReadNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(FReadNotifier.get(), &QSocketNotifier::activated, this, &TSimSerialPort::ReadAll);
    FWriteNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    FWriteNotifier->setEnabled(false);
    connect(FWriteNotifier.get(), &QSocketNotifier::activated, this, &TSimSerialPort::FlushOut);
}

void TSimSerialPort::ReadAll() {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(FFd, buffer, sizeof buffer);
        if (n > 0) {
            if (!FLink || FLink->IsClosed())
                FLink = new TSimSerialLink(FModel, *this);
            FLink->FeedBytes(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n < 0 && errno == EIO && FSlaveFd >= 0)
            return; // a pseudo-terminal between clients
        Gone();
        return;
    }
}

void TSimSerialPort::Send(const TByteArray& frame) {
    FOut.append(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
    FlushOut();
}

void TSimSerialPort::FlushOut() {
    while (!FOut.isEmpty()) {
        const ssize_t n = ::write(FFd, FOut.constData(), size_t(FOut.size()));
        if (n > 0) {
            FOut.remove(0, n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            FWriteNotifier->setEnabled(true);
            return;
        }
        FOut.clear(); // the line is gone
        break;
    }
    FWriteNotifier->setEnabled(false);
}

void TSimSerialPort::Gone() {
    // A device that went away (an unplugged adapter): nothing more to serve on it.
    FReadNotifier->setEnabled(false);
    FWriteNotifier->setEnabled(false);
    if (FLink)
        FLink->deleteLater();
    std::fprintf(stderr, "karo-sim: serial %s is gone\n", qPrintable(FPath));
}
