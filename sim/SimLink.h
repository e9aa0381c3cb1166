// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"
#include "protocol/Receiver.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <memory>

class TGripperModel;

// One client's connection to the gripper, whatever carries it. A transport feeds the bytes it
// receives into FeedBytes and implements WriteFrame/CloseLink; framing, the receive state
// machine, fault injection and the verbose trace live here, so a new transport (a
// pseudo-terminal, a CAN bus) only moves bytes.
class TSimLink : public QObject {
    Q_OBJECT
public:
    TSimLink(TGripperModel& model, QObject* parent = nullptr);
    ~TSimLink() override;

    // Bytes as they arrived, in order. Every intact frame goes to the model.
    void FeedBytes(const std::uint8_t* data, std::size_t count);

    // Frames and sends one packet from the gripper: status word first, then `data`.
    void SendPacket(std::uint8_t id, std::uint16_t status, const TByteArray& data = {});

    // Short name for traces, e.g. "tcp 127.0.0.1:40122".
    virtual QString Name() const = 0;

    // Bytes written but not gone out yet; a flood keeps it low rather than fill memory.
    virtual qint64 Backlog() const { return 0; }

    // True while what was sent still occupies the wire for over a millisecond: a link with a
    // bit rate (a CAN bus, Ethernet) carries a flood no faster than that rate.
    bool WireBusy() const;

    // True once the link has been closed; nothing is sent any more.
    bool IsClosed() const { return FClosed; }

Q_SIGNALS:
    // Raised after a frame left the link (after delay and drop decisions), with the bytes as
    // they went out.
    void FrameSent(const QByteArray& frame);

protected:
    // One whole frame in one write.
    virtual void WriteFrame(const TByteArray& frame) = 0;
    // Ends the connection; the transport deletes the link later.
    virtual void CloseLink() = 0;
    // Bits per second of the wire and the bits a frame of `bytes` takes on it; 0 for a link
    // whose own writes pace the sender (a TCP stream, a serial line).
    virtual double WireBitRate() const { return 0; }
    virtual double WireBits(std::size_t bytes) const { return 8.0 * static_cast<double>(bytes); }
    // Called by a transport that learned the peer has gone.
    void MarkClosed();

    TGripperModel& Model() const { return FModel; }

private:
    struct TOutgoing {
        qint64 Due = 0;
        TByteArray Frame; // empty: close the link at this point
    };
    void Enqueue(TByteArray frame);
    void Flush();
    void Emit(const TByteArray& frame);

    TGripperModel& FModel;
    std::unique_ptr<TPacketReceiver> FReceiver;
    std::deque<TOutgoing> FOut;
    QTimer FDelayTimer;
    int FFramesReceived = 0;
    bool FFalseHeaderSent = false;
    bool FClosed = false;
    qint64 FWireFreeNs = 0; // when the wire has carried what was sent
};
