// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DeviceComponent.h"
#include "devices/DevicePrompts.h"
#include "protocol/Errors.h"
#include "protocol/PacketBufferClass.h"
#include "protocol/Receiver.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The transport-facing half of the protocol: owns the transports, asks its prompts which one to
// open, frames and writes outgoing packets, turns the attached transport's bytes into packets and
// keeps them in a bounded queue until the command set takes them. Never waits and never looks
// into a payload.
class TCommand : public QObject, public IDeviceList {
    Q_OBJECT
public:
    using TPacketEvent = std::function<void(TCommand* sender)>;
    using TLinkEventHandler = std::function<void(const TLinkEvent& event)>;

    static constexpr int PacketQueueCapacity = 1024;
    // Packets an exchange waits for, kept apart from the queue.
    static constexpr std::size_t ReplyCapacity = 64;
    // While the queue overflows, its drops are reported at most this often.
    static constexpr std::uint32_t DropReportMs = 1000;
    static constexpr int ReadChunk = 4096;

    explicit TCommand(QObject* owner);
    ~TCommand() override;

    // The engine owns the transports that have it as their QObject parent, those it creates
    // among them; the list owns none. A listed transport that is destroyed, by whoever owns
    // it, leaves the list at once.
    //
    // Appends a transport to the list and returns its index.
    int AddDevice(TDevice* device);
    // Detaches and empties the list, destroying the listed transports the engine owns, so that
    // a test can list transports of its own from index 0.
    void ClearDevices();
    int DeviceCount() const override;
    // Raises EListError "Index out of bounds (%d)." for an index outside the list.
    TDevice* Devices(int index) const override;

    // Asks the prompts for the transport and opens it: 0, 19 when the choice was cancelled
    // (an earlier connection then stays as it was), or the transport's own status (the engine
    // is then unattached).
    TStat Connect();
    // The same without asking anybody: the transport named by its short name opens with the
    // given settings, and OnConnect follows as soon as it is usable rather than at the 50 ms
    // tick that Connect keeps. 21 when no transport has that name.
    TStat ConnectTo(const TConnectTarget& target);
    // Closes and detaches the attached transport; sends nothing.
    void Disconnect();
    bool IsConnected() const;
    // Frames the packet and writes it in one call: 3 when not connected, else Write's status.
    TStat SendPacket(const TPacket& packet);

    int PacketCount() const { return FPackets.Count() + static_cast<int>(FReplies.size()); }
    // Whether a packet an exchange waits for has arrived and is not taken yet.
    bool AwaitedArrived() const { return !FReplies.empty(); }
    // Intact packets the receiver has completed since construction, queued or dropped; lets a
    // soak run check that nothing is dispatched more often than it arrived.
    std::uint64_t PacketsArrived() const { return FPacketsArrived; }
    // Packets a full queue gave up since construction (the oldest automatic updates first).
    std::uint64_t PacketsDropped() const { return FPacketsDropped; }
    // Moves the oldest packet into `packet`; false (and `packet` untouched) when none is
    // waiting.
    bool GetPacket(TPacket& packet);

    // Handed to the attached transport, which raises them; setting one also updates the
    // attached transport at once.
    const TDevice::TNotifyEvent& OnConnect() const { return FOnConnect; }
    void SetOnConnect(TDevice::TNotifyEvent handler);
    const TDevice::TNotifyEvent& OnDisconnect() const { return FOnDisconnect; }
    void SetOnDisconnect(TDevice::TNotifyEvent handler);

    // The attached transport's errors, with its own arguments.
    TDevice::TErrorEvent OnError;
    // Raised once for every intact packet that arrived, also when the full queue dropped it.
    TPacketEvent OnPacket;
    // Whether a running exchange waits for packets with this identifier: those are set apart as
    // they arrive, so no flood of others delays or drops them.
    std::function<bool(std::int32_t ID)> Awaits;
    // What the link saw besides intact packets, and updates a full queue dropped.
    TLinkEventHandler OnLinkEvent;

    // Where the engine and every listed transport ask for choices and settings; may be null,
    // which cancels every Connect. Not owned.
    IDevicePrompts* Prompts() const { return FPrompts; }
    void SetPrompts(IDevicePrompts* prompts);
    TDevice* AttachedDevice() const { return FDevice; }
    // The latest connection that opened, with the values its transport was given; opening it
    // again with ConnectTo asks nobody.
    const std::optional<TConnectTarget>& LastTarget() const { return FLastTarget; }
    // The tick the receiver measures gaps with; the command set hands over its own clock's.
    void SetReceiverTick(TTickSource tick);

private:
    // The one place where the program's transports come into being, in the order in which the
    // dialog offers them.
    void CreateDevices();
    TStat ConnectWith(IDevicePrompts& prompts, TDevice::TConfirm confirm);
    void ResetReceiver();
    void DataAvailable(TDevice* sender, std::int32_t count);
    void Enqueue(TPacket& packet);
    void Dropped(std::int32_t ID);
    // Reports the drops counted so far; `force` also within DropReportMs of the last report.
    void ReportDrops(bool force);
    void LinkEvent(const TLinkEvent& event);
    std::uint32_t Now() const { return FTick ? FTick() : GetTickCount(); }
    void DeviceError(TDevice* sender, TStat code);

    IDevicePrompts* FPrompts = nullptr;
    std::vector<QPointer<TDevice>> FDevices;
    QPointer<TDevice> FDevice;
    TPacketBuffer FPackets{PacketQueueCapacity};
    // Set apart with the number of queued packets that arrived before it.
    struct TSetApart {
        TPacket Packet;
        int Ahead = 0;
    };
    std::deque<TSetApart> FReplies;
    TTickSource FTick;
    std::uint64_t FPacketsDropped = 0;
    // Drops not reported yet, the first one's identifier, and when the last report went out.
    std::uint32_t FDropsUnreported = 0;
    std::int32_t FFirstDropped = 0;
    std::uint32_t FDropReported = 0;
    bool FDroppedThisRead = false;
    TPacketReceiver FReceiver;
    std::uint64_t FPacketsArrived = 0;
    std::optional<TConnectTarget> FLastTarget;
    TDevice::TNotifyEvent FOnConnect;
    TDevice::TNotifyEvent FOnDisconnect;
};
