// SPDX-License-Identifier: Apache-2.0
#include "engine/Exchange.h"

#include "engine/CommandCodec.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
// While nothing is queued a wait pass blocks in the event loop, but wakes at least this often
// so that the deadline is checked against the instance's tick even when that is not the
// steady clock.
constexpr std::uint32_t WakeIntervalMs = 20;

// Puts the engine's packet notification back however the exchange ends.
class TRestorePacketHandler {
public:
    TRestorePacketHandler(TCommand* command, TCommand::TPacketEvent saved)
        : FCommand(command), FSaved(std::move(saved)) {}
    ~TRestorePacketHandler() { FCommand->OnPacket = std::move(FSaved); }
    TRestorePacketHandler(const TRestorePacketHandler&) = delete;
    TRestorePacketHandler& operator=(const TRestorePacketHandler&) = delete;

private:
    TCommand* FCommand;
    TCommand::TPacketEvent FSaved;
};
} // namespace

TExchange::TExchange(TCommand* command, QObject* owner) : QObject(owner), FCommand(command) {
    FCommand->Awaits = [this](std::int32_t ID) {
        return std::find(FAwaited.begin(), FAwaited.end(), ID) != FAwaited.end();
    };
}

void TExchange::SetClock(TClock clock) {
    FClock = std::move(clock);
    FCommand->SetReceiverTick(FClock.TickSource);
}

void TExchange::Log(const TPacket& packet, bool received) {
    const std::int32_t roundTrip = received ? std::exchange(FReplyRoundTrip, -1) : -1;
    if (FPacketLog)
        FPacketLog->LogStampedPacket(packet, received, {FClock.WallMs(), roundTrip});
}

TExchangeOutcome TExchange::Run(std::uint8_t ID, const TByteArray& request,
                                std::uint32_t timeoutMs) {
    TExchangeOutcome outcome;
    outcome.ID = ID;
    if (!FCommand->IsConnected())
        return outcome;
    TPacket packet;
    packet.ID = ID;
    packet.Length = static_cast<std::int32_t>(request.size());
    packet.Data = request;

    bool found = false;
    bool lost = false;
    TPacket answer;
    {
        // From here on arriving packets stay queued for this exchange to take.
        TRestorePacketHandler restore(FCommand, std::exchange(FCommand->OnPacket, nullptr));
        if (const TStat sent = FCommand->SendPacket(packet); sent != E_SUCCESS) {
            outcome.SendStatus = sent;
            return outcome;
        }
        Log(packet, false);
        Wait(ID, timeoutMs, answer, found, lost);
    }
    if (FCommand->PacketCount() > 0 || (!InExchange() && !FKept.empty()))
        PostPendingPackets();

    outcome.Kind = found                              ? TOutcomeKind::Replied
                   : lost || !FCommand->IsConnected() ? TOutcomeKind::LinkClosed
                                                      : TOutcomeKind::NoReply;
    if (found) {
        if (auto reply = CommandCodec::SplitReply(answer)) {
            outcome.HasStatus = true;
            outcome.StatusWord = reply->StatusWord;
            outcome.Data = std::move(reply->Data);
        }
    }
    return outcome;
}

void TExchange::Wait(std::uint8_t ID, std::uint32_t timeoutMs, TPacket& answer, bool& found,
                     bool& lost) {
    FAwaited.push_back(ID);
    struct TEndExchange {
        TExchange* Exchange;
        ~TEndExchange() { Exchange->ExchangeEnded(); }
    } endExchange{this};

    const std::uint32_t t0 = FClock.Tick();
    const auto dispatchReply = [this, t0](const TPacket& reply) {
        // The log shows how long the gripper took to answer this request.
        FReplyRoundTrip =
            static_cast<std::int32_t>(std::min<std::uint32_t>(FClock.Tick() - t0, 0x7FFFFFFF));
        if (Dispatch)
            Dispatch(reply);
    };
    const auto dispatch = [this](const TPacket& other) {
        if (Dispatch)
            Dispatch(other);
    };
    QTimer wake;
    wake.setSingleShot(true);
    TPacket taken;
    for (;;) {
        // An exchange nested in an earlier pass may have set our reply aside.
        if (TakeKept(ID, answer)) {
            dispatchReply(answer);
            found = true;
            return;
        }
        if (FCommand->PacketCount() > 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        } else {
            // Nothing to take: sleep in the event loop until something happens or the
            // deadline (checked at least every WakeIntervalMs) comes.
            const std::uint32_t elapsed = FClock.Tick() - t0;
            const std::uint32_t left = elapsed > timeoutMs ? 1 : timeoutMs - elapsed + 1;
            wake.start(static_cast<int>(std::min(left, WakeIntervalMs)));
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            wake.stop();
        }
        if (TakeKept(ID, answer)) {
            dispatchReply(answer);
            found = true;
            return;
        }
        // One packet a pass; once an awaited one has arrived, everything before it at once, so
        // that no flood ahead of it delays it.
        do {
            if (!FCommand->GetPacket(taken))
                break;
            if (taken.ID == ID) {
                dispatchReply(taken);
                found = true;
                answer = std::move(taken);
                return;
            }
            if (AwaitedByOuter(taken.ID))
                FKept.push_back(std::move(taken)); // the waiting exchange dispatches it itself
            else
                dispatch(taken);
        } while (FCommand->AwaitedArrived() &&
                 std::none_of(FKept.begin(), FKept.end(),
                              [ID](const TPacket& kept) { return kept.ID == ID; }));
        // A closed link still waits out the time-out, as callers have always seen it; the
        // outcome tells them why nothing came.
        if (!FCommand->IsConnected())
            lost = true;
        if (FClock.Tick() - t0 > timeoutMs)
            return;
    }
}

TExchangeOutcome TExchange::Start(std::uint8_t ID, const TByteArray& request,
                                  TAsyncResultEvent handler) {
    FResults.Remove(ID);
    TExchangeOutcome outcome = Run(ID, request);
    if (outcome.Usable() && outcome.Status() == E_CMD_PENDING && handler)
        FResults.Add(ID, std::move(handler));
    return outcome;
}

bool TExchange::TakePending(TPacket& packet) {
    if (!InExchange() && !FKept.empty()) {
        packet = std::move(FKept.front());
        FKept.pop_front();
        return true;
    }
    return FCommand->GetPacket(packet);
}

void TExchange::PostPendingPackets() {
    if (FFlushPosted)
        return;
    FFlushPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FFlushPosted = false;
            // Still cleared while an exchange waits; that exchange takes them itself.
            if (FCommand->OnPacket && (FCommand->PacketCount() > 0 || !FKept.empty()))
                FCommand->OnPacket(FCommand);
        },
        Qt::QueuedConnection);
}

bool TExchange::TakeKept(std::uint8_t ID, TPacket& packet) {
    for (auto it = FKept.begin(); it != FKept.end(); ++it) {
        if (it->ID == ID) {
            packet = std::move(*it);
            FKept.erase(it);
            return true;
        }
    }
    return false;
}

bool TExchange::AwaitedByOuter(std::int32_t ID) const {
    if (FAwaited.size() < 2)
        return false;
    const auto waiting = std::count(FAwaited.begin(), FAwaited.end() - 1, ID);
    const auto kept =
        std::count_if(FKept.begin(), FKept.end(), [ID](const TPacket& p) { return p.ID == ID; });
    return waiting > kept;
}

void TExchange::ExchangeEnded() {
    FAwaited.pop_back();
    if (FAwaited.empty())
        PostIdleCalls();
}

void TExchange::CallWhenIdle(std::function<void()> call) {
    FIdleCalls.push_back(std::move(call));
    PostIdleCalls();
}

void TExchange::PostIdleCalls() {
    if (FIdlePosted || InExchange() || FIdleCalls.empty())
        return;
    FIdlePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FIdlePosted = false;
            // An exchange that began meanwhile posts them again when it ends.
            if (InExchange())
                return;
            const auto calls = std::exchange(FIdleCalls, {});
            for (const auto& call : calls)
                call();
        },
        Qt::QueuedConnection);
}
