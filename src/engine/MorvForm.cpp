#include "engine/MorvForm.h"

#include "protocol/ByteConv.h"
#include "protocol/Tick.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
// While nothing is queued a wait pass blocks in the event loop, but wakes at least this often
// so that the deadline is checked against the program's tick even when that is not the clock.
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

void AppendSingle(TByteArray& out, float value) {
    const auto bytes = SingleToBytes(value);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

float SingleAt(const TByteArray& data, std::size_t offset) {
    return SingleFromBytes(data[offset], data[offset + 1], data[offset + 2], data[offset + 3]);
}
} // namespace

TMorv::TMorv(QObject* owner)
    : QObject(owner), FAsyncResults(std::make_unique<TAsyncResultEventList>()),
      FCommand(new TCommand(this)) {
    FCommand->SetOnConnect([this](TDevice* sender) { Connected(sender); });
    FCommand->OnError = [this](TDevice* sender, TStat code) { ConnectionError(sender, code); };
    FCommand->SetOnDisconnect([this](TDevice* sender) { Disconnected(sender); });
    FCommand->OnPacket = [this](TCommand*) { ProcessPendingPackets(); };
}

TMorv::~TMorv() {
    // The engine and its transports go first, while everything their handlers reach exists.
    delete FCommand;
    FAsyncResults.reset();
}

bool TMorv::IsConnected() const {
    return FCommand->IsConnected();
}

TStat TMorv::Connect() {
    return FCommand->Connect();
}

TStat TMorv::ConnectTo(const TConnectTarget& target) {
    return FCommand->ConnectTo(target);
}

void TMorv::Disconnect() {
    FCommand->Disconnect();
}

void TMorv::Connected(TDevice*) {
    FSystemState = 0;
    FGraspingState = 0;
    if (OnConnect)
        OnConnect(this);
}

void TMorv::Disconnected(TDevice*) {
    FSystemState = 0;
    FGraspingState = 0;
    if (OnDisconnect)
        OnDisconnect(this);
}

void TMorv::ConnectionError(TDevice*, TStat) {
    if (OnConnectionError)
        OnConnectionError(this);
    else
        Disconnect();
}

void TMorv::Log(const TPacket& packet, bool received) {
    const std::int32_t roundTrip = received ? std::exchange(FReplyRoundTrip, -1) : -1;
    if (FPacketLog)
        FPacketLog->LogStampedPacket(packet, received,
                                     {QDateTime::currentMSecsSinceEpoch(), roundTrip});
}

bool TMorv::ExecuteCommand(std::uint8_t ID, const TByteArray& request, TByteArray& reply,
                           TStat& status) {
    FLastOutcome = {};
    if (!IsConnected())
        return false;
    TPacket packet;
    packet.ID = ID;
    packet.Length = static_cast<std::int32_t>(request.size());
    packet.Data = request;

    bool found = false;
    TPacket answer;
    {
        // From here on arriving packets stay queued for this exchange to take.
        TRestorePacketHandler restore(FCommand, std::exchange(FCommand->OnPacket, nullptr));
        if (const TStat sent = FCommand->SendPacket(packet); sent != E_SUCCESS) {
            FLastOutcome = {};
            FLastOutcome.SendStatus = sent;
            return false;
        }
        Log(packet, false);

        FAwaited.push_back(ID);
        struct TEndExchange {
            TMorv* Morv;
            ~TEndExchange() { Morv->ExchangeEnded(); }
        } endExchange{this};

        const std::uint32_t t0 = GetTickCount();
        // The log shows how long the gripper took to answer this request.
        auto dispatchReply = [this, t0](const TPacket& answered) {
            FReplyRoundTrip =
                static_cast<std::int32_t>(std::min<std::uint32_t>(GetTickCount() - t0, 0x7FFFFFFF));
            HandlePacket(answered);
        };
        QTimer wake;
        wake.setSingleShot(true);
        TPacket taken;
        for (;;) {
            // An exchange nested in an earlier pass may have set our reply aside.
            if (TakeKept(ID, answer)) {
                dispatchReply(answer);
                found = true;
                break;
            }
            if (FCommand->PacketCount() > 0) {
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            } else {
                // Nothing to take: sleep in the event loop until something happens or the
                // deadline (checked at least every WakeIntervalMs) comes.
                const std::uint32_t elapsed = GetTickCount() - t0;
                const std::uint32_t left =
                    elapsed > ReplyTimeoutMs ? 1 : ReplyTimeoutMs - elapsed + 1;
                wake.start(static_cast<int>(std::min(left, WakeIntervalMs)));
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                wake.stop();
            }
            if (TakeKept(ID, answer)) {
                dispatchReply(answer);
                found = true;
                break;
            }
            if (FCommand->GetPacket(taken)) {
                if (taken.ID == ID) {
                    dispatchReply(taken);
                    found = true;
                    answer = std::move(taken);
                } else if (AwaitedByOuter(taken.ID)) {
                    // The waiting exchange dispatches it itself once it runs again.
                    FKept.push_back(std::move(taken));
                } else {
                    HandlePacket(taken);
                }
            }
            if (found || GetTickCount() - t0 > ReplyTimeoutMs || !IsConnected())
                break;
        }
    }
    if (FCommand->PacketCount() > 0 || (!InExchange() && !FKept.empty()))
        PostPendingPackets();

    const std::size_t length = std::min<std::size_t>(
        answer.Data.size(), static_cast<std::size_t>(std::max(0, answer.Length)));
    // Set last, so that exchanges nested in this one's wait do not overwrite it.
    FLastOutcome = {};
    FLastOutcome.Kind = found           ? TOutcomeKind::Replied
                        : IsConnected() ? TOutcomeKind::NoReply
                                        : TOutcomeKind::LinkClosed;
    if (!found || length < 2)
        return false;
    FLastOutcome.HasStatus = true;
    FLastOutcome.StatusWord = WordFromBytes(answer.Data[0], answer.Data[1]);
    FLastOutcome.Data.assign(answer.Data.begin() + 2,
                             answer.Data.begin() + static_cast<std::ptrdiff_t>(length));
    status = static_cast<TStat>(answer.Data[0]);
    reply.assign(answer.Data.begin() + 2,
                 answer.Data.begin() + static_cast<std::ptrdiff_t>(length));
    return true;
}

void TMorv::PostPendingPackets() {
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

bool TMorv::TakeKept(std::uint8_t ID, TPacket& packet) {
    for (auto it = FKept.begin(); it != FKept.end(); ++it) {
        if (it->ID == ID) {
            packet = std::move(*it);
            FKept.erase(it);
            return true;
        }
    }
    return false;
}

bool TMorv::AwaitedByOuter(std::int32_t ID) const {
    if (FAwaited.size() < 2)
        return false;
    const auto waiting = std::count(FAwaited.begin(), FAwaited.end() - 1, ID);
    const auto kept =
        std::count_if(FKept.begin(), FKept.end(), [ID](const TPacket& p) { return p.ID == ID; });
    return waiting > kept;
}

void TMorv::ExchangeEnded() {
    FAwaited.pop_back();
    if (FAwaited.empty())
        PostIdleCalls();
}

void TMorv::CallWhenIdle(std::function<void()> call) {
    FIdleCalls.push_back(std::move(call));
    PostIdleCalls();
}

void TMorv::PostIdleCalls() {
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

TStat TMorv::StartCommand(std::uint8_t ID, const TByteArray& request, TAsyncResultEvent handler) {
    if (!IsConnected()) {
        FLastOutcome = {};
        return E_NOT_OPENED;
    }
    FAsyncResults->Remove(ID);
    TByteArray reply;
    TStat status = E_SUCCESS;
    if (!ExecuteCommand(ID, request, reply, status))
        return E_CMD_FAILED;
    if (status == E_CMD_PENDING && handler)
        FAsyncResults->Add(ID, std::move(handler));
    return status;
}

void TMorv::HandlePacket(const TPacket& packet) {
    Log(packet, true);
    const std::size_t length = std::min<std::size_t>(
        packet.Data.size(), static_cast<std::size_t>(std::max(0, packet.Length)));
    if (length < 2)
        return;
    const std::uint16_t statusWord = WordFromBytes(packet.Data[0], packet.Data[1]);
    const TByteArray data(packet.Data.begin() + 2,
                          packet.Data.begin() + static_cast<std::ptrdiff_t>(length));

    if (const TAsyncResultEvent handler = FAsyncResults->Find(packet.ID))
        handler(this, packet.ID, statusWord, data);

    if ((statusWord & 0xFF) != E_SUCCESS)
        return;
    switch (packet.ID) {
    case CMD_GET_SYSTEM_STATE:
        if (data.size() == 4) {
            FSystemState = DWordFromBytes(data[0], data[1], data[2], data[3]);
            if (OnSystemState)
                OnSystemState(this);
        } else {
            FSystemState = 0;
        }
        break;
    case CMD_GET_GRASPING_STATE:
        if (data.size() == 1) {
            FGraspingState = data[0];
            if (OnGraspingState)
                OnGraspingState(this);
        } else {
            FGraspingState = 0;
        }
        break;
    case CMD_GET_POS:
        if (data.size() == 4) {
            FPosition = SingleAt(data, 0);
            if (OnPosition)
                OnPosition(this);
        }
        break;
    default:
        break;
    }
}

void TMorv::ProcessPendingPackets() {
    TPacket packet;
    // Set aside for an exchange that ended without taking it (a handler raised).
    while (!InExchange() && !FKept.empty()) {
        packet = std::move(FKept.front());
        FKept.pop_front();
        HandlePacket(packet);
    }
    while (FCommand->GetPacket(packet))
        HandlePacket(packet);
}

// --- the gripper commands -------------------------------------------------------------------

TStat TMorv::Execute(std::uint8_t ID, const TByteArray& request, TByteArray& reply) {
    TStat status = E_SUCCESS;
    return ExecuteCommand(ID, request, reply, status) ? status : E_CMD_FAILED;
}

TStat TMorv::ExecuteStatusOnly(std::uint8_t ID, const TByteArray& request) {
    TByteArray reply;
    return Execute(ID, request, reply);
}

TStat TMorv::Query(std::uint8_t ID, const TByteArray& request, std::size_t length,
                   TByteArray& reply) {
    const TStat status = Execute(ID, request, reply);
    if (status == E_CMD_FAILED || reply.size() != length)
        return E_CMD_FAILED;
    return status;
}

TStat TMorv::AutoUpdateRequest(std::uint8_t ID, bool AutoUpdate, std::uint16_t Period,
                               bool Option) {
    TByteArray request(3, 0);
    if (AutoUpdate) {
        request[0] = static_cast<std::uint8_t>(0x01 | (Option ? 0x02 : 0x00));
        request[1] = static_cast<std::uint8_t>(Period & 0xFF);
        request[2] = static_cast<std::uint8_t>(Period >> 8);
    }
    return ExecuteStatusOnly(ID, request);
}

TStat TMorv::Homing(std::uint8_t Param, TAsyncResultEvent OnResult) {
    return StartCommand(CMD_HOMING, TByteArray{Param}, std::move(OnResult));
}

TStat TMorv::GotoPosition(float Position, float Speed, TAsyncResultEvent OnResult) {
    TByteArray request{0x00};
    AppendSingle(request, Position);
    AppendSingle(request, Speed);
    return StartCommand(CMD_GOTO, request, std::move(OnResult));
}

TStat TMorv::Grasp(float Width, float Speed, TAsyncResultEvent OnResult) {
    TByteArray request;
    AppendSingle(request, Width);
    AppendSingle(request, Speed);
    return StartCommand(CMD_GRASP_RAW, request, std::move(OnResult));
}

TStat TMorv::ReleasePart(float Width, float Speed, TAsyncResultEvent OnResult) {
    TByteArray request;
    AppendSingle(request, Width);
    AppendSingle(request, Speed);
    return StartCommand(CMD_RELEASE_RAW, request, std::move(OnResult));
}

TStat TMorv::Stop() {
    return ExecuteStatusOnly(CMD_STOP, {});
}

TStat TMorv::FastStop() {
    return ExecuteStatusOnly(CMD_FAST_STOP, {});
}

TStat TMorv::AcknowledgeFastStop() {
    return ExecuteStatusOnly(CMD_FAST_STOP_ACK, TByteArray{'a', 'c', 'k'});
}

TStat TMorv::SetAcceleration(float Value) {
    TByteArray request;
    AppendSingle(request, Value);
    return ExecuteStatusOnly(CMD_SET_ACCELERATION, request);
}

TStat TMorv::SetForceLimit(float Value) {
    TByteArray request;
    AppendSingle(request, Value);
    return ExecuteStatusOnly(CMD_SET_FORCE_LIMIT, request);
}

TStat TMorv::GetAcceleration(float& Value) {
    TByteArray reply;
    const TStat status = Query(CMD_GET_ACCELERATION, {}, 4, reply);
    if (status == E_SUCCESS)
        Value = SingleAt(reply, 0);
    return status;
}

TStat TMorv::GetForceLimit(float& Value) {
    TByteArray reply;
    const TStat status = Query(CMD_GET_FORCE_LIMIT, {}, 4, reply);
    if (status == E_SUCCESS)
        Value = SingleAt(reply, 0);
    return status;
}

TStat TMorv::GetGraspingStatistics(bool Reset, TGraspingStatistics& Stats) {
    TByteArray reply;
    const TStat status = Query(CMD_GET_GRASPING_STATS,
                               TByteArray{static_cast<std::uint8_t>(Reset ? 1 : 0)}, 8, reply);
    if (status == E_SUCCESS) {
        Stats.NumberOfGrasps = DWordFromBytes(reply[0], reply[1], reply[2], reply[3]);
        Stats.NumberOfNotFoundParts = WordFromBytes(reply[4], reply[5]);
        Stats.NumberOfPartsLost = WordFromBytes(reply[6], reply[7]);
    }
    return status;
}

TStat TMorv::GetSystemInfo(TSystemInfo& Info) {
    TByteArray reply;
    const TStat status = Query(CMD_GET_SYSINFO, {}, 8, reply);
    if (status == E_SUCCESS) {
        Info.Type = reply[0];
        Info.HardwareRevision = reply[1];
        Info.FirmwareRevision = WordFromBytes(reply[2], reply[3]);
        Info.SerialNumber = DWordFromBytes(reply[4], reply[5], reply[6], reply[7]);
    }
    return status;
}

TStat TMorv::GetSystemLimits(TSystemLimits& Limits) {
    TByteArray reply;
    const TStat status = Query(CMD_GET_SYSTEM_LIMITS, {}, 32, reply);
    if (status == E_SUCCESS) {
        Limits.Stroke = SingleAt(reply, 0);
        Limits.MinSpeed = SingleAt(reply, 4);
        Limits.MaxSpeed = SingleAt(reply, 8);
        Limits.MinAcceleration = SingleAt(reply, 12);
        Limits.MaxAcceleration = SingleAt(reply, 16);
        Limits.MinForce = SingleAt(reply, 20);
        Limits.MaxForce = SingleAt(reply, 24);
        Limits.Reserved = SingleAt(reply, 28);
    }
    return status;
}

TStat TMorv::GetSystemState(bool AutoUpdate, std::uint16_t Period, bool Option) {
    return AutoUpdateRequest(CMD_GET_SYSTEM_STATE, AutoUpdate, Period, Option);
}

TStat TMorv::GetGraspingState(bool AutoUpdate, std::uint16_t Period, bool Option) {
    return AutoUpdateRequest(CMD_GET_GRASPING_STATE, AutoUpdate, Period, Option);
}

TStat TMorv::GetPosition(bool AutoUpdate, std::uint16_t Period, bool Option) {
    return AutoUpdateRequest(CMD_GET_POS, AutoUpdate, Period, Option);
}
