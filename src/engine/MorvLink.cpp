// SPDX-License-Identifier: Apache-2.0
// TMorv: the link's health, its loss and its return.

#include "engine/MorvForm.h"

#include <QTimer>

void TMorv::SetUpSupervision() {
    FSupervisor->Tick = [this] { return Clock().Tick(); };
    FSupervisor->Arrivals = [this] { return FCommand->PacketsArrived(); };
    // A question asked while an exchange waits could be taken for that exchange's reply.
    FSupervisor->Busy = [this] { return InExchange(); };
    FSupervisor->Ask = [this] { AskTheGripper(); };
    // Counted like an exchange's missing reply: a link that drops frames shows it even idle.
    FSupervisor->OnUnanswered = [this] {
        if (FProving)
            return;
        TLinkEvent event;
        event.Kind = TLinkEventKind::ReplyMissing;
        event.ID = CommandCodec::GetAcceleration().ID;
        LogLinkEvent(event);
    };
    FSupervisor->OnStale = [this](std::uint32_t silentMs) {
        if (FProving)
            return;
        if (!FStaleLogged) {
            FStaleLogged = true;
            LogLink(TLinkEventKind::LinkStale, silentMs);
        }
        if (OnLinkStale)
            OnLinkStale(this);
    };
    FSupervisor->OnFresh = [this] {
        FStaleLogged = false;
        if (!FProving && OnLinkFresh)
            OnLinkFresh(this);
    };
    FSupervisor->OnAlive = [this] { LinkAlive(); };
    FSupervisor->OnLost = [this](std::uint32_t silentMs) {
        if (FProving) {
            // The attempt opened a transport nobody answers on.
            CloseQuietly();
            ScheduleReconnect();
            return;
        }
        LinkLost(silentMs);
    };
    FReconnectTimer->setSingleShot(true);
    connect(FReconnectTimer, &QTimer::timeout, this, [this] { TryReconnect(); });
}

std::uint32_t TMorv::LinkSilentMs() const {
    return FSupervisor->Running() ? FSupervisor->SilentMs() : FLostSilentMs;
}

void TMorv::SetAutoReconnect(bool on) {
    FAutoReconnect = on;
    if (!on && FReconnectAttempt > 0) {
        StopReconnecting();
        if (!IsConnected())
            FCommand->Disconnect();
    }
}

void TMorv::AskTheGripper() {
    const TCommandRequest question = CommandCodec::GetAcceleration();
    TPacket packet;
    packet.ID = question.ID;
    packet.Length = static_cast<std::int32_t>(question.Payload.size());
    packet.Data = question.Payload;
    if (FCommand->SendPacket(packet) == E_SUCCESS)
        FExchange->Log(packet, false);
}

void TMorv::LogLink(TLinkEventKind kind, std::uint32_t count) {
    TLinkEvent event;
    event.Kind = kind;
    event.Count = count;
    LogLinkEvent(event);
}

void TMorv::Connected(TDevice*) {
    FSystemState = 0;
    FGraspingState = 0;
    if (FProving) {
        // Connected only counts once the gripper answers.
        AskTheGripper();
        return;
    }
    FConnectedSince = Clock().WallMs();
    FStaleLogged = false;
    FSupervisor->Start();
    if (OnConnect)
        OnConnect(this);
}

void TMorv::LinkAlive() {
    if (!FProving || !IsConnected())
        return;
    FProving = false;
    FReconnectAttempt = 0;
    FReconnectTimer->stop();
    LogLink(TLinkEventKind::LinkRestored, 0);
    FConnectedSince = Clock().WallMs();
    FStaleLogged = false;
    if (OnConnect)
        OnConnect(this);
    if (OnLinkRestored)
        OnLinkRestored(this);
}

void TMorv::Disconnected(TDevice*) {
    FSystemState = 0;
    FGraspingState = 0;
    if (FClosingQuietly)
        return;
    FSupervisor->Stop();
    if (FReconnectAttempt > 0) {
        CloseQuietly();
        ScheduleReconnect();
        return;
    }
    const bool wasUp = FConnectedSince != 0;
    FConnectedSince = 0;
    if (!FUserClosing && wasUp && FAutoReconnect) {
        LinkLost(FSupervisor->SilentMs());
        return;
    }
    if (OnDisconnect)
        OnDisconnect(this);
}

void TMorv::ConnectionError(TDevice*, TStat) {
    if (FClosingQuietly)
        return;
    if (FReconnectAttempt > 0) {
        CloseQuietly();
        ScheduleReconnect();
        return;
    }
    if (FConnectedSince != 0 && FAutoReconnect) {
        LinkLost(FSupervisor->SilentMs());
        return;
    }
    if (OnConnectionError)
        OnConnectionError(this);
    else
        Disconnect();
}

void TMorv::CloseQuietly() {
    FSupervisor->Stop();
    FClosingQuietly = true;
    FCommand->Disconnect();
    FClosingQuietly = false;
    FSystemState = 0;
    FGraspingState = 0;
}

void TMorv::LinkLost(std::uint32_t silentMs) {
    FLostSilentMs = silentMs;
    FConnectedSince = 0;
    CloseQuietly();
    LogLink(TLinkEventKind::LinkLost, silentMs);
    const bool again = FAutoReconnect && FCommand->LastTarget().has_value();
    if (again)
        ScheduleReconnect();
    if (OnLinkLost)
        OnLinkLost(this);
}

void TMorv::ScheduleReconnect() {
    FProving = false;
    ++FReconnectAttempt;
    FReconnectTimer->start(static_cast<int>(ReconnectDelayMs(FReconnectAttempt)));
    if (OnReconnecting)
        OnReconnecting(this);
}

void TMorv::TryReconnect() {
    const auto& target = FCommand->LastTarget();
    if (!FAutoReconnect || !target || FReconnectAttempt == 0)
        return;
    const TConnectTarget again = *target;
    FProving = true;
    // Until the gripper answers, silence ends the attempt like it ends a link.
    FSupervisor->Start(true);
    const int attempt = FReconnectAttempt;
    if (FCommand->ConnectTo(again) != E_SUCCESS && FReconnectAttempt == attempt) {
        CloseQuietly();
        ScheduleReconnect();
    }
}

void TMorv::StopReconnecting() {
    FReconnectTimer->stop();
    FReconnectAttempt = 0;
    FProving = false;
}
