// SPDX-License-Identifier: Apache-2.0
#include "SimUdp.h"

#include <QNetworkDatagram>

#include <algorithm>

TSimUdpPeerLink::TSimUdpPeerLink(TGripperModel& model, TSimUdpServer& server,
                                 const QHostAddress& address, quint16 port)
    : TSimLink(model, &server), FServer(server), FAddress(address), FPort(port) {}

QString TSimUdpPeerLink::Name() const {
    return QStringLiteral("udp %1:%2").arg(FAddress.toString()).arg(FPort);
}

void TSimUdpPeerLink::WriteFrame(const TByteArray& frame) {
    FServer.Send(frame, FAddress, FPort);
}

double TSimUdpPeerLink::WireBits(std::size_t bytes) const {
    // UDP, IPv4 and Ethernet headers and check sequence, the frame's minimum of 64 bytes, then
    // preamble and inter-frame gap.
    const std::size_t frame = std::max<std::size_t>(64, bytes + 8 + 20 + 14 + 4);
    return 8.0 * static_cast<double>(frame + 8 + 12);
}

void TSimUdpPeerLink::CloseLink() {
    FServer.Forget(this);
    deleteLater();
}

TSimUdpServer::TSimUdpServer(TGripperModel& model, QObject* parent)
    : QObject(parent), FModel(model) {
    connect(&FSocket, &QUdpSocket::readyRead, this, &TSimUdpServer::ReadPending);
}

bool TSimUdpServer::Bind(const QHostAddress& address, quint16 port) {
    return FSocket.bind(address, port);
}

void TSimUdpServer::ReadPending() {
    while (FSocket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = FSocket.receiveDatagram();
        if (!datagram.isValid())
            continue;
        const QHostAddress from = datagram.senderAddress();
        const auto port = static_cast<quint16>(datagram.senderPort());
        const TKey key{from.toString(), port};
        auto it = FPeers.find(key);
        if (it == FPeers.end()) {
            if (FPeers.size() >= std::size_t(MaxPeers)) {
                // The peer heard from least recently makes room.
                auto oldest = std::min_element(
                    FLastUse.begin(), FLastUse.end(),
                    [](const auto& a, const auto& b) { return a.second < b.second; });
                TSimUdpPeerLink* gone = oldest->first;
                Forget(gone);
                delete gone;
            }
            it = FPeers.emplace(key, new TSimUdpPeerLink(FModel, *this, from, port)).first;
        }
        TSimUdpPeerLink* link = it->second;
        FLastUse[link] = ++FUse;
        const QByteArray data = datagram.data();
        link->FeedBytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                        static_cast<std::size_t>(data.size()));
    }
}

void TSimUdpServer::Forget(TSimUdpPeerLink* link) {
    FLastUse.erase(link);
    for (auto it = FPeers.begin(); it != FPeers.end(); ++it)
        if (it->second == link) {
            FPeers.erase(it);
            return;
        }
}

void TSimUdpServer::Send(const TByteArray& frame, const QHostAddress& address, quint16 port) {
    FSocket.writeDatagram(reinterpret_cast<const char*>(frame.data()), qint64(frame.size()),
                          address, port);
}
