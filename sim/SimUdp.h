// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "SimLink.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <map>
#include <utility>

class TSimUdpServer;

// The gripper as one UDP peer (address and port) sees it: replies and automatic updates go
// back to that peer. Datagram boundaries do not matter; the bytes run through the receiver.
class TSimUdpPeerLink : public TSimLink {
    Q_OBJECT
public:
    TSimUdpPeerLink(TGripperModel& model, TSimUdpServer& server, const QHostAddress& address,
                    quint16 port);
    QString Name() const override;

protected:
    void WriteFrame(const TByteArray& frame) override;
    void CloseLink() override;
    // Fast Ethernet, as a gripper's port has.
    double WireBitRate() const override { return 100e6; }
    double WireBits(std::size_t bytes) const override;

private:
    TSimUdpServer& FServer;
    QHostAddress FAddress;
    quint16 FPort;
};

// One socket bound to the listening port; a link per peer, created by the peer's first
// datagram. Closing a link forgets the peer, so its next datagram starts afresh.
class TSimUdpServer : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxPeers = 16;

    explicit TSimUdpServer(TGripperModel& model, QObject* parent = nullptr);
    bool Bind(const QHostAddress& address, quint16 port);
    QString ErrorString() const { return FSocket.errorString(); }
    QHostAddress Address() const { return FSocket.localAddress(); }
    quint16 Port() const { return FSocket.localPort(); }
    int PeerCount() const { return int(FPeers.size()); }

private:
    friend class TSimUdpPeerLink;
    using TKey = std::pair<QString, quint16>;
    void ReadPending();
    void Forget(TSimUdpPeerLink* link);
    void Send(const TByteArray& frame, const QHostAddress& address, quint16 port);

    TGripperModel& FModel;
    QUdpSocket FSocket;
    std::map<TKey, TSimUdpPeerLink*> FPeers;
    std::map<TSimUdpPeerLink*, quint64> FLastUse;
    quint64 FUse = 0;
};
