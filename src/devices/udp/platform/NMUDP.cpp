// SPDX-License-Identifier: Apache-2.0
#include "devices/udp/platform/NMUDP.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QString kInit = QStringLiteral("Winsock wird initialisiert");
const QString kSending = QStringLiteral("Daten werden gesendet");
const QString kErrorCheck = QStringLiteral("Überprüfung eines Fehlers im Fehler-Manager");
const QString kReadingError = QStringLiteral("Fehlermeldung wird gelesen");
const QString kUnknownError = QStringLiteral("Unbekannte Fehlernummer ");
const QString kLookupFailed = QStringLiteral("Host-Lookup abgebrochen");
const QString kNullAddress = QStringLiteral("Null Externe Adresse");
const QString kInvalidBuffer = QStringLiteral("Ungültiger Puffer");
} // namespace

TNMUDP::TNMUDP(QObject* owner) : QObject(owner) {
    FConstructed = false;
    ReportLevel = 1;
    StatusMessage(8, kInit);
    CreateSocket();
    // Close without lingering.
    linger lg{};
    lg.l_onoff = 0;
    if (::setsockopt(FSocket, SOL_SOCKET, SO_LINGER, &lg, sizeof lg) != 0) {
        const int err = errno;
        CloseSocket();
        Fail(err);
    }
    FConstructed = true;
}

TNMUDP::~TNMUDP() {
    CloseSocket();
}

void TNMUDP::CreateSocket() {
    FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (FSocket < 0)
        Fail(errno);
}

void TNMUDP::Fail(int error) {
    ErrorTest(error);
    RaiseError(error); // a would-block answer where none can occur is still a failure
}

void TNMUDP::CloseSocket() {
    if (FNotifier) {
        // This may run inside the notifier's own signal.
        FNotifier->setEnabled(false);
        FNotifier->deleteLater();
        FNotifier = nullptr;
    }
    if (FSocket >= 0)
        ::close(FSocket);
    FSocket = -1;
}

void TNMUDP::Shutdown() {
    OnDataReceived = nullptr;
    OnDataSend = nullptr;
    OnStatus = nullptr;
    OnInvalidHost = nullptr;
    OnBufferInvalid = nullptr;
    OnErrorEvent = nullptr;
    CloseSocket();
}

namespace {
// The local address whose route reaches `remote` (both in network order): what a socket
// connected there would send from. Loopback when nothing reaches it.
std::uint32_t LocalAddressTowards(std::uint32_t remote) {
    std::uint32_t result = htonl(INADDR_LOOPBACK);
    if (remote == 0)
        return result;
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return result;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = remote;
    to.sin_port = htons(9);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    // Connecting a datagram socket only picks the route; nothing is sent.
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        local.sin_addr.s_addr != 0)
        result = local.sin_addr.s_addr;
    ::close(s);
    return result;
}
} // namespace

void TNMUDP::SetLocalPort(int port) {
    std::uint32_t remote = RemoteAddress();
    if (remote == 0 && !RemoteHost.isEmpty() && !LookupOnce(RemoteHost, remote))
        remote = 0;
    CloseSocket();
    CreateSocket();
    FLocalPort = port;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    // Only where the gripper's datagrams can come in, not on every interface.
    local.sin_addr.s_addr = LocalAddressTowards(remote);
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    // A port that cannot be bound would never receive anything: say so instead of going on.
    if (port < 0 || port > 65535 ||
        ::bind(FSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int err = port < 0 || port > 65535 ? EINVAL : errno;
        CloseSocket();
        Fail(err);
    }
    FNotifier = new QSocketNotifier(qintptr(FSocket), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        if (FConstructed)
            ReceiveStep();
    });
}

void TNMUDP::StatusMessage(int level, const QString& text) {
    if (level > ReportLevel)
        return;
    FLastStatus = text;
    if (OnStatus)
        OnStatus(this, text);
}

void TNMUDP::ErrorTest(int error) {
    StatusMessage(16, kErrorCheck);
    FLastError = error;
    if (error == EWOULDBLOCK || error == EAGAIN)
        return;
    RaiseError(error);
}

void TNMUDP::RaiseError(int error) {
    FLastError = error;
    const QString text = kUnknownError + QString::number(error);
    StatusMessage(8, kReadingError + text);
    if (OnErrorEvent)
        OnErrorEvent(text);
    throw UDPSockError(text);
}

void TNMUDP::ReceiveStep() {
    if (FSocket < 0)
        return;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    // MSG_TRUNC reports the datagram's real length, so an oversized one is recognised and
    // dropped whole instead of being delivered cut.
    const ssize_t n = ::recvfrom(FSocket, FReceiveBuffer, sizeof FReceiveBuffer, MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    FLastLength = n < 0 || n > ReceiveBufferSize ? -1 : static_cast<int>(n);
    if (!OnDataReceived)
        return;
    const std::uint32_t a = ntohl(from.sin_addr.s_addr);
    const QString ip = QStringLiteral("%1.%2.%3.%4")
                           .arg(a >> 24 & 0xFF)
                           .arg(a >> 16 & 0xFF)
                           .arg(a >> 8 & 0xFF)
                           .arg(a & 0xFF);
    OnDataReceived(this, FLastLength, ip, ntohs(from.sin_port));
}

int TNMUDP::ReadBuffer(std::uint8_t* Buff, int Size) const {
    if (FLastLength < 0 || FLastLength > Size)
        return -1;
    std::memcpy(Buff, FReceiveBuffer, static_cast<std::size_t>(FLastLength));
    return FLastLength;
}

bool TNMUDP::LookupOnce(const QString& host, std::uint32_t& addr) {
    if (host.toUtf8().size() > MaxHostLength)
        return false;
    FLookupDone = false;
    FLookupSucceeded = false;
    FLookupAddr = 0;
    QPointer<TNMUDP> self(this);
    // The id tells this lookup's answer from that of one abandoned earlier.
    FLookupId = QHostInfo::lookupHost(host, this, [this](const QHostInfo& info) {
        if (info.lookupId() != FLookupId)
            return;
        FLookupSucceeded = false;
        if (info.error() == QHostInfo::NoError) {
            for (const QHostAddress& a : info.addresses()) {
                if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                    FLookupAddr = htonl(a.toIPv4Address());
                    FLookupSucceeded = true;
                    break;
                }
            }
        }
        FLookupDone = true;
    });
    // Other handlers keep running while the name is looked up.
    while (self && !FLookupDone && FSocket >= 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!self || FSocket < 0)
        throw UDPSockError(kLookupFailed); // closed meanwhile: touch nothing more
    if (!FLookupSucceeded)
        return false;
    addr = FLookupAddr;
    return true;
}

std::uint32_t TNMUDP::RemoteAddress() const {
    if (!FResolvedHost.isNull() && FResolvedHost == RemoteHost)
        return FResolvedAddr;
    in_addr a{};
    const QByteArray host = RemoteHost.toLatin1();
    if (RemoteHost.size() <= MaxHostLength && ::inet_pton(AF_INET, host.constData(), &a) == 1)
        return a.s_addr;
    return 0;
}

std::uint32_t TNMUDP::ResolveRemote() {
    const QByteArray host = RemoteHost.toLatin1();
    in_addr a{};
    if (RemoteHost.size() <= MaxHostLength && ::inet_pton(AF_INET, host.constData(), &a) == 1)
        return a.s_addr;
    std::uint32_t addr = 0;
    if (LookupOnce(RemoteHost, addr))
        return addr;
    bool handled = false;
    if (OnInvalidHost)
        OnInvalidHost(handled);
    if (!handled)
        throw UDPSockError(kLookupFailed);
    if (LookupOnce(RemoteHost, addr))
        return addr;
    throw UDPSockError(kLookupFailed);
}

void TNMUDP::SendBuffer(const std::uint8_t* Buff, int Length) {
    if (Length <= 0 || !Buff) {
        if (!OnBufferInvalid)
            throw EKaroError(kInvalidBuffer);
        bool handled = false;
        OnBufferInvalid(handled, Buff, Length);
        if (!handled || Length <= 0 || !Buff)
            throw EKaroError(kInvalidBuffer);
    }
    if (FSocket < 0)
        RaiseError(EBADF);
    const std::uint32_t addr = ResolveRemote();
    FResolvedHost = RemoteHost;
    FResolvedAddr = addr;
    if (addr == 0)
        throw UDPSockError(kNullAddress);
    StatusMessage(2, kSending);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = addr;
    to.sin_port = htons(static_cast<std::uint16_t>(RemotePort));
    // A send the system refuses outright is an error, not a datagram on its way.
    if (::sendto(FSocket, Buff, static_cast<std::size_t>(Length), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        ErrorTest(errno);
    if (OnDataSend)
        OnDataSend(this);
}
