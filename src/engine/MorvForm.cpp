// SPDX-License-Identifier: Apache-2.0
#include "engine/MorvForm.h"

#include <QTimer>

#include <algorithm>
#include <utility>

TMorv::TMorv(QObject* owner)
    : QObject(owner), FCommand(new TCommand(this)), FExchange(new TExchange(FCommand, this)),
      FSupervisor(new TLinkSupervisor(this)), FReconnectTimer(new QTimer(this)) {
    FExchange->Dispatch = [this](const TPacket& packet) { HandlePacket(packet); };
    FCommand->SetOnConnect([this](TDevice* sender) { Connected(sender); });
    FCommand->OnError = [this](TDevice* sender, TStat code) { ConnectionError(sender, code); };
    FCommand->SetOnDisconnect([this](TDevice* sender) { Disconnected(sender); });
    FCommand->OnPacket = [this](TCommand*) { ProcessPendingPackets(); };
    FCommand->OnLinkEvent = [this](const TLinkEvent& event) { LogLinkEvent(event); };
    SetUpSupervision();
}

TMorv::~TMorv() {
    FSupervisor->Stop();
    FReconnectTimer->stop();
    FReconnectAttempt = 0;
    FClosingQuietly = true;
    // The engine and its transports go first, while everything their handlers reach exists.
    delete FCommand;
    FCommand = nullptr;
    delete FExchange;
    FExchange = nullptr;
}

bool TMorv::IsConnected() const {
    return FCommand->IsConnected();
}

TStat TMorv::Connect() {
    StopReconnecting();
    return FCommand->Connect();
}

TStat TMorv::ConnectTo(const TConnectTarget& target) {
    StopReconnecting();
    return FCommand->ConnectTo(target);
}

void TMorv::Disconnect() {
    StopReconnecting();
    FSupervisor->Stop();
    FUserClosing = true;
    FCommand->Disconnect();
    FUserClosing = false;
    FConnectedSince = 0;
}

TExchangeOutcome TMorv::Exchange(std::uint8_t ID, const TByteArray& request,
                                 std::uint32_t timeoutMs) {
    // Set after the wait, so that exchanges nested in it do not overwrite it.
    Ended(FExchange->Run(ID, request, timeoutMs));
    return FLastOutcome;
}

void TMorv::Ended(TExchangeOutcome outcome) {
    FLastOutcome = std::move(outcome);
    if (FLastOutcome.Kind == TOutcomeKind::NoReply) {
        TLinkEvent event;
        event.Kind = TLinkEventKind::ReplyMissing;
        event.ID = FLastOutcome.ID;
        LogLinkEvent(event);
    }
}

void TMorv::LogLinkEvent(const TLinkEvent& event) {
    if (IPacketLog* log = PacketLog())
        log->LogLinkEvent(event, {Clock().WallMs(), -1});
}

bool TMorv::ExecuteCommand(std::uint8_t ID, const TByteArray& request, TByteArray& reply,
                           TStat& status) {
    const TExchangeOutcome& outcome = Exchange(ID, request);
    if (!outcome.Usable())
        return false;
    status = outcome.Status();
    reply = outcome.Data;
    return true;
}

TStat TMorv::StartCommand(std::uint8_t ID, const TByteArray& request, TAsyncResultEvent handler) {
    if (!IsConnected()) {
        FLastOutcome = {};
        FLastOutcome.ID = ID;
        return E_NOT_OPENED;
    }
    Ended(FExchange->Start(ID, request, std::move(handler)));
    return CommandCodec::ReplyStatus(FLastOutcome);
}

void TMorv::CallWhenIdle(std::function<void()> call) {
    FExchange->CallWhenIdle(std::move(call));
}

void TMorv::HandlePacket(const TPacket& packet) {
    FExchange->Log(packet, true);
    const auto reply = CommandCodec::SplitReply(packet);
    if (!reply)
        return;
    const std::uint16_t statusWord = reply->StatusWord;
    const TByteArray& data = reply->Data;

    if (const TAsyncResultEvent handler = FExchange->Results().Find(packet.ID))
        handler(this, packet.ID, statusWord, data);

    if ((statusWord & 0xFF) != E_SUCCESS)
        return;
    switch (packet.ID) {
    case CMD_GET_SYSTEM_STATE: {
        const auto state = CommandCodec::DecodeSystemState(data);
        FSystemState = state.value_or(0);
        if (state && OnSystemState)
            OnSystemState(this);
        break;
    }
    case CMD_GET_GRASPING_STATE: {
        const auto state = CommandCodec::DecodeGraspingState(data);
        FGraspingState = state.value_or(0);
        if (state && OnGraspingState)
            OnGraspingState(this);
        break;
    }
    case CMD_GET_POS:
        if (const auto position = CommandCodec::DecodePosition(data)) {
            FPosition = *position;
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
    while (FExchange->TakePending(packet))
        HandlePacket(packet);
}

// --- the gripper commands -------------------------------------------------------------------

TStat TMorv::Execute(const TCommandRequest& request) {
    return CommandCodec::ReplyStatus(Exchange(request.ID, request.Payload));
}

TStat TMorv::Query(const TCommandRequest& request, std::size_t length, TByteArray& data) {
    const TExchangeOutcome& outcome = Exchange(request.ID, request.Payload);
    data = outcome.Data;
    return CommandCodec::QueryStatus(outcome, length);
}

TStat TMorv::Start(const TCommandRequest& request, TAsyncResultEvent handler) {
    return StartCommand(request.ID, request.Payload, std::move(handler));
}

TStat TMorv::Homing(std::uint8_t Param, TAsyncResultEvent OnResult) {
    return Start(CommandCodec::Homing(Param), std::move(OnResult));
}

TStat TMorv::GotoPosition(float Position, float Speed, TAsyncResultEvent OnResult) {
    return Start(CommandCodec::GotoPosition(Position, Speed), std::move(OnResult));
}

TStat TMorv::Grasp(float Width, float Speed, TAsyncResultEvent OnResult) {
    return Start(CommandCodec::Grasp(Width, Speed), std::move(OnResult));
}

TStat TMorv::ReleasePart(float Width, float Speed, TAsyncResultEvent OnResult) {
    return Start(CommandCodec::ReleasePart(Width, Speed), std::move(OnResult));
}

TStat TMorv::Stop() {
    return Execute(CommandCodec::Stop());
}

TStat TMorv::FastStop() {
    return Execute(CommandCodec::FastStop());
}

TStat TMorv::AcknowledgeFastStop() {
    return Execute(CommandCodec::AcknowledgeFastStop());
}

TStat TMorv::SetAcceleration(float Value) {
    return Execute(CommandCodec::SetAcceleration(Value));
}

TStat TMorv::SetForceLimit(float Value) {
    return Execute(CommandCodec::SetForceLimit(Value));
}

TStat TMorv::GetAcceleration(float& Value) {
    TByteArray data;
    const TStat status = Query(CommandCodec::GetAcceleration(), CommandCodec::SingleLength, data);
    if (status == E_SUCCESS)
        Value = *CommandCodec::DecodeSingle(data);
    return status;
}

TStat TMorv::GetForceLimit(float& Value) {
    TByteArray data;
    const TStat status = Query(CommandCodec::GetForceLimit(), CommandCodec::SingleLength, data);
    if (status == E_SUCCESS)
        Value = *CommandCodec::DecodeSingle(data);
    return status;
}

TStat TMorv::GetGraspingStatistics(bool Reset, TGraspingStatistics& Stats) {
    TByteArray data;
    const TStat status = Query(CommandCodec::GetGraspingStatistics(Reset),
                               CommandCodec::GraspingStatisticsLength, data);
    if (status == E_SUCCESS)
        Stats = *CommandCodec::DecodeGraspingStatistics(data);
    return status;
}

TStat TMorv::GetSystemInfo(TSystemInfo& Info) {
    TByteArray data;
    const TStat status = Query(CommandCodec::GetSystemInfo(), CommandCodec::SystemInfoLength, data);
    if (status == E_SUCCESS)
        Info = *CommandCodec::DecodeSystemInfo(data);
    return status;
}

TStat TMorv::GetSystemLimits(TSystemLimits& Limits) {
    TByteArray data;
    const TStat status =
        Query(CommandCodec::GetSystemLimits(), CommandCodec::SystemLimitsLength, data);
    if (status == E_SUCCESS)
        Limits = *CommandCodec::DecodeSystemLimits(data);
    return status;
}

TStat TMorv::GetSystemState(bool AutoUpdate, std::uint16_t Period, bool Option) {
    return Execute(CommandCodec::AutoUpdate(CMD_GET_SYSTEM_STATE, AutoUpdate, Period, Option));
}

TStat TMorv::GetGraspingState(bool AutoUpdate, std::uint16_t Period, bool Option) {
    return Execute(CommandCodec::AutoUpdate(CMD_GET_GRASPING_STATE, AutoUpdate, Period, Option));
}

TStat TMorv::GetPosition(bool AutoUpdate, std::uint16_t Period, bool Option) {
    return Execute(CommandCodec::AutoUpdate(CMD_GET_POS, AutoUpdate, Period, Option));
}
