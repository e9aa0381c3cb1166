// SPDX-License-Identifier: Apache-2.0
#include "devices/udp/UDPDevice.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>

namespace {
const QString kSection = QStringLiteral("common");
} // namespace

TUDPDevice::TUDPDevice(QObject* owner)
    : TDevice(owner, QStringLiteral("udp"), QStringLiteral("Ethernet/UDP")) {
    FLinkSettings.Host = Settings->ReadString(kSection, QStringLiteral("ipaddr"), QString());
    FLinkSettings.ListeningPort =
        Settings->ReadInteger(kSection, QStringLiteral("listening_port"), DefaultListeningPort);
    FLinkSettings.TransmitPort =
        Settings->ReadInteger(kSection, QStringLiteral("transmit_port"), DefaultTransmitPort);
}

TUDPDevice::~TUDPDevice() {
    BeginDestroy();
    Close();
}

bool TUDPDevice::IsOpen() {
    return FUdp != nullptr;
}

TStat TUDPDevice::OpenChosen(const QString& /*PortName*/, const TDeviceSettings* chosen) {
    const auto& link = std::get<TUdpSettings>(*chosen);
    return OpenWith(link.Host, link.ListeningPort, link.TransmitPort);
}

TStat TUDPDevice::OpenWith(const QString& Host, int ListeningPort, int TransmitPort) {
    FLinkSettings = {Host, ListeningPort, TransmitPort};
    FTried = true;
    return OpenTransport();
}

TStat TUDPDevice::OpenHook() {
    FQueue.Clear();
    FStrangers = 0;

    // A failure to create the socket is raised to the caller.
    auto* udp = new TNMUDP(this);
    udp->OnDataReceived = [this](QObject* sender, int n, const QString& fromIP, int) {
        DataReceived(sender, n, fromIP);
    };
    udp->ReportLevel = 0;
    udp->OnStatus = [this](QObject*, const QString& text) {
        if (Prompts())
            Prompts()->ShowError(text);
    };
    FUdp = udp;
    try {
        FUdp->RemoteHost = FLinkSettings.Host;
        FUdp->SetLocalPort(FLinkSettings.ListeningPort);
        FUdp->RemotePort = FLinkSettings.TransmitPort;
        Settings->WriteString(kSection, QStringLiteral("ipaddr"), FLinkSettings.Host);
        Settings->WriteInteger(kSection, QStringLiteral("listening_port"),
                               FLinkSettings.ListeningPort);
        Settings->WriteInteger(kSection, QStringLiteral("transmit_port"),
                               FLinkSettings.TransmitPort);
    } catch (const std::exception& e) {
        const int error = udp->LastError();
        SetLastErrorText(error == EADDRINUSE ? QStringLiteral("listening port %1 is in use by "
                                                              "another program")
                                                   .arg(FLinkSettings.ListeningPort)
                         : error == EACCES ? QStringLiteral("permission denied")
                         : error           ? QString::fromLocal8Bit(std::strerror(error))
                                           : QString::fromLocal8Bit(e.what()));
        // Left open, the transport would claim a socket that never receives.
        FUdp = nullptr;
        udp->Shutdown();
        udp->deleteLater();
        return E_IO_ERROR;
    }
    // Nothing to wait for: the first tick reports the connection.
    ReportUsable();
    return E_SUCCESS;
}

void TUDPDevice::CloseHook(bool /*wasOpen*/) {
    if (!FUdp)
        return;
    // Deleted later: Close may run inside one of the component's own notifications or while
    // it waits for a host look-up.
    TNMUDP* udp = FUdp;
    FUdp = nullptr;
    udp->Shutdown();
    udp->deleteLater();
}

std::int32_t TUDPDevice::BytesAvailable() {
    return IsOpen() ? FQueue.Count() : 0;
}

std::int32_t TUDPDevice::Read(std::uint8_t* Buffer, std::int32_t Count) {
    if (!IsOpen())
        return -1;
    return FQueue.Read(Buffer, Count);
}

TStat TUDPDevice::Write(const std::uint8_t* Buffer, std::int32_t Count) {
    if (Count > QueueSize || Count < 0)
        return E_RANGE_ERROR;
    if (!IsOpen())
        return E_NOT_OPENED;
    std::uint8_t send[QueueSize];
    if (Count > 0 && Buffer)
        std::memcpy(send, Buffer, static_cast<std::size_t>(Count));
    try {
        // Without a source the send buffer holds nothing of the caller's: refuse it.
        FUdp->SendBuffer(Buffer ? send : nullptr, Count);
    } catch (const EKaroError&) {
        return E_WRITE_ERROR;
    }
    return E_SUCCESS;
}

void TUDPDevice::GetPortList(QStringList& Items) {
    Items.clear();
    Items << QStringLiteral("UDP");
}

void TUDPDevice::DataReceived(QObject* Sender, int NumberBytes, const QString& FromIP) {
    if (!IsOpen() || Sender != FUdp || NumberBytes <= 0)
        return;
    // Only the gripper may feed the stream, from whichever port it answers; until a host name
    // has been resolved by the first send nobody is known to be the gripper.
    const QHostAddress gripper(ntohl(FUdp->RemoteAddress()));
    if (FUdp->RemoteAddress() == 0 || QHostAddress(FromIP) != gripper) {
        ++FStrangers;
        return;
    }
    std::uint8_t buf[QueueSize];
    const int n = FUdp->ReadBuffer(buf, QueueSize);
    for (int i = 0; i < n; ++i)
        FQueue.Put(buf[i]);
    DoDataAvailable(NumberBytes);
}

QString TUDPDevice::Address() const {
    if (!FTried)
        return {};
    return QStringLiteral("%1, transmit port %2, listening port %3")
        .arg(FLinkSettings.Host)
        .arg(FLinkSettings.TransmitPort)
        .arg(FLinkSettings.ListeningPort);
}
