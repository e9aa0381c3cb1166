// SPDX-License-Identifier: Apache-2.0
#pragma once

// A raw protocol client for the simulator tests: frames requests with the shared frame builder
// and collects every intact packet that comes back, in order of arrival.

#include "protocol/ByteConv.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <deque>
#include <memory>
#include <optional>

class WireClient {
public:
    // TCP when `udp` is false.
    WireClient(quint16 port, bool udp = false) : FPort(port), FUdp(udp) {
        if (udp) {
            FUdpSocket.bind(QHostAddress::LocalHost, 0);
            QObject::connect(&FUdpSocket, &QUdpSocket::readyRead, [this] {
                while (FUdpSocket.hasPendingDatagrams()) {
                    const QByteArray d = FUdpSocket.receiveDatagram().data();
                    Take(d);
                }
            });
        } else {
            QObject::connect(&FTcp, &QTcpSocket::readyRead, [this] { Take(FTcp.readAll()); });
            FTcp.connectToHost(QHostAddress::LocalHost, port);
        }
    }

    bool WaitConnected(int ms = 5000) {
        return FUdp || QTest::qWaitFor(
                           [this] { return FTcp.state() == QAbstractSocket::ConnectedState; }, ms);
    }
    QTcpSocket& Tcp() { return FTcp; }

    void SendRaw(const TByteArray& bytes) {
        const auto* p = reinterpret_cast<const char*>(bytes.data());
        if (FUdp)
            FUdpSocket.writeDatagram(p, qint64(bytes.size()), QHostAddress::LocalHost, FPort);
        else
            FTcp.write(p, qint64(bytes.size()));
        // Out at once: a large frame trickled out between event-loop turns could pause longer
        // than the receiver's gap on a loaded machine.
        while (!FUdp && FTcp.bytesToWrite() > 0 && FTcp.waitForBytesWritten(30000)) {
        }
    }
    void Send(std::uint8_t id, const TByteArray& payload = {}) { SendRaw(MakeFrame(id, payload)); }

    // The first collected packet with `id` (earlier packets with other identifiers stay).
    std::optional<TPacket> Next(std::uint8_t id, int ms = 5000) {
        std::optional<TPacket> found;
        [[maybe_unused]] const bool arrived = QTest::qWaitFor(
            [&] {
                for (auto it = Packets.begin(); it != Packets.end(); ++it)
                    if (it->ID == id) {
                        found = *it;
                        Packets.erase(it);
                        return true;
                    }
                return false;
            },
            ms);
        return found;
    }

    // Sends a request and returns its reply's status code and data (status -1: no reply).
    struct Reply {
        int Status = -1;
        TByteArray Data;
    };
    Reply Ask(std::uint8_t id, const TByteArray& payload = {}, int ms = 5000) {
        Send(id, payload);
        return Decode(Next(id, ms));
    }
    static Reply Decode(const std::optional<TPacket>& p) {
        Reply r;
        if (!p || p->Data.size() < 2)
            return r;
        r.Status = WordFromBytes(p->Data[0], p->Data[1]);
        r.Data.assign(p->Data.begin() + 2, p->Data.end());
        return r;
    }

    std::deque<TPacket> Packets;
    QByteArray Raw; // every byte received

private:
    void Take(const QByteArray& bytes) {
        Raw += bytes;
        TPacket p;
        for (char c : bytes)
            if (FRx->Feed(static_cast<std::uint8_t>(c), p))
                Packets.push_back(p);
    }

    quint16 FPort;
    bool FUdp;
    QTcpSocket FTcp;
    QUdpSocket FUdpSocket;
    std::unique_ptr<TPacketReceiver> FRx = std::make_unique<TPacketReceiver>();
};

inline TByteArray Floats(std::initializer_list<float> values) {
    TByteArray out;
    for (float v : values) {
        const auto b = SingleToBytes(v);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

inline float FloatOf(const TByteArray& d, std::size_t offset = 0) {
    return SingleFromBytes(d[offset], d[offset + 1], d[offset + 2], d[offset + 3]);
}

inline std::uint32_t DWordOf(const TByteArray& d, std::size_t offset = 0) {
    return DWordFromBytes(d[offset], d[offset + 1], d[offset + 2], d[offset + 3]);
}

inline TByteArray GotoPayload(float position, float speed) {
    TByteArray out{0x00};
    const TByteArray f = Floats({position, speed});
    out.insert(out.end(), f.begin(), f.end());
    return out;
}
