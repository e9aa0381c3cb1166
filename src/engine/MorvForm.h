// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/AsyncResultEventList.h"
#include "engine/CommandCodec.h"
#include "engine/CommandComponent.h"
#include "engine/Exchange.h"
#include "engine/ExchangeOutcome.h"
#include "engine/LinkSupervisor.h"
#include "protocol/Clock.h"
#include "protocol/Constants.h"
#include "protocol/PacketLog.h"

#include <QObject>

class QTimer;

#include <cstdint>
#include <functional>
#include <utility>

// The gripper as the rest of the program sees it: request/reply exchanges over the command
// engine, results that arrive later, and the values the gripper reports on its own.
// Everything runs on the user-interface thread; waiting for a reply runs the event loop, so
// handlers and notifications may nest inside any command.
class TMorv : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TMorv* sender)>;

    static constexpr std::uint32_t ReplyTimeoutMs = TExchange::ReplyTimeoutMs;

    explicit TMorv(QObject* owner);
    ~TMorv() override;

    TCommand* Command() const { return FCommand; }
    TAsyncResultEventList& AsyncResults() { return FExchange->Results(); }

    // Where every sent request and every dispatched packet is reported; may be null.
    IPacketLog* PacketLog() const { return FExchange->PacketLog(); }
    void SetPacketLog(IPacketLog* log) { FExchange->SetPacketLog(log); }

    // The time this instance reads: reply time-outs, the receiver's gaps and log stamps.
    const TClock& Clock() const { return FExchange->Clock(); }
    void SetClock(TClock clock) { FExchange->SetClock(std::move(clock)); }

    bool IsConnected() const;
    // 0, 19 when the choice of transport was cancelled, or the transport's status.
    TStat Connect();
    // Without asking: see TCommand::ConnectTo.
    TStat ConnectTo(const TConnectTarget& target);
    void Disconnect();

    // Sends one request and waits up to 3000 ms for the packet with the same identifier. True
    // with `status` (low byte of the reply's status word) and `reply` (the data after it); false
    // when not connected, the send failed, nothing came in time or the reply is shorter than
    // 2 bytes, and then `reply` and `status` are untouched.
    bool ExecuteCommand(std::uint8_t ID, const TByteArray& request, TByteArray& reply,
                        TStat& status);
    // Like ExecuteCommand, for commands whose final result comes later: a reply of 26 registers
    // `handler` (may be empty) for every later packet with this identifier. 22 when not
    // connected, 18 without a usable reply, else the reply's status code.
    TStat StartCommand(std::uint8_t ID, const TByteArray& request, TAsyncResultEvent handler);
    // The exchange itself, for callers that must tell a silent gripper from a refusal; also
    // becomes LastOutcome. A caller that cannot wait the usual time gives its own.
    TExchangeOutcome Exchange(std::uint8_t ID, const TByteArray& request,
                              std::uint32_t timeoutMs = ReplyTimeoutMs);
    // How the latest exchange that ended went; after a command operation returned, that is its
    // own exchange (nested ones end before it).
    const TExchangeOutcome& LastOutcome() const { return FLastOutcome; }
    // Logs, hands a registered handler its result, and updates the cached values.
    void HandlePacket(const TPacket& packet);
    // The engine's packet notification: dispatches everything queued.
    void ProcessPendingPackets();
    // True while an exchange waits for its reply (also when nested in another).
    bool InExchange() const { return FExchange->InExchange(); }
    // Runs `call` from the event loop once no exchange waits, in the order given; a handler
    // that would start an exchange from inside another one's wait hands it over here.
    void CallWhenIdle(std::function<void()> call);

    // Cached values reported by the gripper.
    std::uint32_t SystemState() const { return FSystemState; }
    std::uint8_t GraspingState() const { return FGraspingState; }
    float Position() const { return FPosition; } // mm

    TNotifyEvent OnConnect;
    TNotifyEvent OnConnectionError;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnSystemState;
    TNotifyEvent OnGraspingState;
    TNotifyEvent OnPosition;

    // --- The link's health and its return.
    //
    // A connected link that stays silent is questioned, then stale, then lost: the engine
    // closes the transport itself and raises OnLinkLost instead of OnDisconnect. With
    // AutoReconnect on, a lost link and one the far side closed or broke are opened again
    // with the same transport and values, pausing 1, 2, 4, ... up to 10 s between attempts; an
    // attempt counts once the gripper answered on it, and then OnConnect and OnLinkRestored
    // follow. Disconnect (or a new Connect) ends the attempts.
    const TLinkTimes& LinkTimes() const { return FSupervisor->Times(); }
    void SetLinkTimes(const TLinkTimes& times) { FSupervisor->SetTimes(times); }
    TLinkHealth LinkHealth() const { return FSupervisor->Health(); }
    // Since the latest packet while supervised; after a loss, the silence that ended it.
    std::uint32_t LinkSilentMs() const;
    TLinkSupervisor* Supervisor() const { return FSupervisor; }
    bool AutoReconnect() const { return FAutoReconnect; }
    // Switching it off also ends attempts under way.
    void SetAutoReconnect(bool on);
    // The attempt under way or the next one (1 for the first); 0 when not reconnecting.
    int ReconnectAttempt() const { return FReconnectAttempt; }
    // Wall time (ms since the Unix epoch) of the latest OnConnect; 0 while not connected.
    std::int64_t ConnectedSinceMs() const { return FConnectedSince; }

    TNotifyEvent OnLinkStale;    // on becoming stale, and at every further whole second
    TNotifyEvent OnLinkFresh;    // packets again after a stale spell
    TNotifyEvent OnLinkLost;     // the transport is already closed
    TNotifyEvent OnReconnecting; // an attempt was scheduled; see ReconnectAttempt
    TNotifyEvent OnLinkRestored; // after the OnConnect of a reconnected link

    // Motion commands: 0 or 26 on acceptance (the final result then goes to OnResult),
    // 22 when not connected, 18 without a usable reply.
    TStat Homing(std::uint8_t Param, TAsyncResultEvent OnResult);
    TStat GotoPosition(float Position, float Speed, TAsyncResultEvent OnResult);
    TStat Grasp(float Width, float Speed, TAsyncResultEvent OnResult);
    TStat ReleasePart(float Width, float Speed, TAsyncResultEvent OnResult);

    // Complete with the reply; 18 when not connected or without a usable reply.
    TStat Stop();
    TStat FastStop();
    TStat AcknowledgeFastStop();
    TStat SetAcceleration(float Value);
    TStat SetForceLimit(float Value);

    // Queries: the output is written only on status 0; a reply of the wrong length gives 18.
    TStat GetAcceleration(float& Value);
    TStat GetForceLimit(float& Value);
    TStat GetGraspingStatistics(bool Reset, TGraspingStatistics& Stats);
    TStat GetSystemInfo(TSystemInfo& Info);
    TStat GetSystemLimits(TSystemLimits& Limits);

    // Ask for the value once, or switch automatic updates every `Period` ms on (AutoUpdate) or
    // off; the value itself arrives through HandlePacket.
    TStat GetSystemState(bool AutoUpdate, std::uint16_t Period, bool Option);
    TStat GetGraspingState(bool AutoUpdate, std::uint16_t Period, bool Option);
    TStat GetPosition(bool AutoUpdate, std::uint16_t Period, bool Option);

private:
    void SetUpSupervision();
    void AskTheGripper();
    void LinkAlive();
    void LinkLost(std::uint32_t silentMs);
    void CloseQuietly();
    void ScheduleReconnect();
    void TryReconnect();
    void StopReconnecting();
    void LogLink(TLinkEventKind kind, std::uint32_t count);
    void Connected(TDevice* sender);
    void Disconnected(TDevice* sender);
    void ConnectionError(TDevice* sender, TStat code);
    // To the packet log, stamped with this instance's clock.
    void LogLinkEvent(const TLinkEvent& event);
    // The outcome of an exchange that just ended becomes LastOutcome; a missing reply is logged.
    void Ended(TExchangeOutcome outcome);
    TStat Execute(const TCommandRequest& request);
    TStat Query(const TCommandRequest& request, std::size_t length, TByteArray& data);
    TStat Start(const TCommandRequest& request, TAsyncResultEvent handler);

    TCommand* FCommand;
    TExchange* FExchange;
    std::uint32_t FSystemState = 0;
    std::uint8_t FGraspingState = 0;
    float FPosition = 0;
    TExchangeOutcome FLastOutcome;

    TLinkSupervisor* FSupervisor;
    QTimer* FReconnectTimer;
    bool FAutoReconnect = false;
    int FReconnectAttempt = 0;
    bool FProving = false;        // a reconnected transport the gripper has not answered on yet
    bool FClosingQuietly = false; // the engine closes the transport and reports it itself
    bool FUserClosing = false;
    bool FStaleLogged = false;
    std::int64_t FConnectedSince = 0;
    std::uint32_t FLostSilentMs = 0;
};
