// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/AsyncResultEventList.h"
#include "engine/CommandComponent.h"
#include "engine/ExchangeOutcome.h"
#include "protocol/Clock.h"
#include "protocol/PacketLog.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// Request and reply over the command engine. A wait runs passes of the event loop, so another
// exchange may start and end inside it; a reply such an inner exchange takes for a waiting
// outer one is set aside for that one. Keeps the handlers for results that come later, and
// stamps what goes to the packet log with this instance's clock.
class TExchange : public QObject {
    Q_OBJECT
public:
    using TDispatch = std::function<void(const TPacket& packet)>;

    static constexpr std::uint32_t ReplyTimeoutMs = 3000;

    // `command` must outlive the exchange's use of it; it is not owned.
    TExchange(TCommand* command, QObject* owner);

    // Every packet an exchange takes, the reply included, goes here exactly once.
    TDispatch Dispatch;

    TAsyncResultEventList& Results() { return FResults; }

    const TClock& Clock() const { return FClock; }
    // Also becomes the tick of the engine's receiver.
    void SetClock(TClock clock);

    IPacketLog* PacketLog() const { return FPacketLog; }
    void SetPacketLog(IPacketLog* log) { FPacketLog = log; }
    // Reports a packet with its wall time; the reply being dispatched carries its round trip.
    void Log(const TPacket& packet, bool received);

    // Sends the request and waits up to `timeoutMs` for the packet with its identifier.
    TExchangeOutcome Run(std::uint8_t ID, const TByteArray& request,
                         std::uint32_t timeoutMs = ReplyTimeoutMs);
    // Run for a command whose final result comes later: a reply with status 26 registers
    // `handler` (when given) for the identifier; any earlier registration goes before sending.
    TExchangeOutcome Start(std::uint8_t ID, const TByteArray& request, TAsyncResultEvent handler);

    bool InExchange() const { return !FAwaited.empty(); }
    void CallWhenIdle(std::function<void()> call);
    // The next packet nobody waits for: one set aside for an exchange that is gone, else the
    // oldest queued one. False when there is none.
    bool TakePending(TPacket& packet);

private:
    // `lost`: the link was down at some check of the wait.
    void Wait(std::uint8_t ID, std::uint32_t timeoutMs, TPacket& answer, bool& found, bool& lost);
    void PostPendingPackets();
    bool TakeKept(std::uint8_t ID, TPacket& packet);
    // Whether a packet taken by the innermost exchange belongs to an outer one that waits.
    bool AwaitedByOuter(std::int32_t ID) const;
    void ExchangeEnded();
    void PostIdleCalls();

    TCommand* FCommand;
    TAsyncResultEventList FResults;
    TClock FClock;
    IPacketLog* FPacketLog = nullptr;
    // Round trip of the reply about to be logged; -1 for any other packet.
    std::int32_t FReplyRoundTrip = -1;
    // Identifiers the running exchanges wait for, outermost first.
    std::vector<std::int32_t> FAwaited;
    // Packets taken by an inner exchange for an outer one, in arrival order.
    std::deque<TPacket> FKept;
    std::vector<std::function<void()>> FIdleCalls;
    bool FFlushPosted = false;
    bool FIdlePosted = false;
};
