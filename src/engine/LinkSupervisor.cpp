// SPDX-License-Identifier: Apache-2.0
#include "engine/LinkSupervisor.h"

#include "devices/IniFile.h"

#include <QTimer>

#include <algorithm>

TLinkTimes ReadLinkTimes(const TIniFile& settings) {
    const QString section = QStringLiteral("link");
    const auto read = [&](const char* key, std::uint32_t fallback) {
        const int value =
            settings.ReadInteger(section, QLatin1String(key), static_cast<int>(fallback));
        return value > 0 ? static_cast<std::uint32_t>(value) : fallback;
    };
    TLinkTimes times;
    times.StaleAfterMs = read("StaleAfterMs", TLinkTimes::DefaultStaleAfterMs);
    times.LostAfterMs =
        std::max(read("LostAfterMs", TLinkTimes::DefaultLostAfterMs), times.StaleAfterMs);
    return times;
}

std::uint32_t ReconnectDelayMs(int attempt) {
    constexpr std::uint32_t longest = 10000;
    std::uint32_t delay = 1000;
    for (int i = 1; i < attempt && delay < longest; ++i)
        delay *= 2;
    return std::min(delay, longest);
}

TLinkSupervisor::TLinkSupervisor(QObject* owner) : QObject(owner), FTimer(new QTimer(this)) {
    FTimer->setInterval(CheckIntervalMs);
    connect(FTimer, &QTimer::timeout, this, &TLinkSupervisor::Check);
}

void TLinkSupervisor::Start(bool askNow) {
    FRunning = true;
    FHealth = TLinkHealth::Fresh;
    FSeen = Arrivals ? Arrivals() : 0;
    FLastSign = Tick();
    FAsked = false;
    FStaleSecondsShown = 0;
    FTimer->start();
    if (askNow && Ask) {
        FAsked = true;
        FAskedAt = FLastSign;
        Ask();
    }
}

void TLinkSupervisor::Stop() {
    FRunning = false;
    FTimer->stop();
}

std::uint32_t TLinkSupervisor::SilentMs() const {
    return FRunning ? Tick() - FLastSign : 0;
}

void TLinkSupervisor::Check() {
    if (!FRunning)
        return;
    const std::uint32_t now = Tick();
    const std::uint64_t seen = Arrivals ? Arrivals() : FSeen;
    if (seen != FSeen) {
        FSeen = seen;
        FLastSign = now;
        FAsked = false;
        if (FHealth == TLinkHealth::Stale) {
            FHealth = TLinkHealth::Fresh;
            if (OnFresh)
                OnFresh();
        }
        if (OnAlive)
            OnAlive();
        return;
    }
    const std::uint32_t silent = now - FLastSign;
    if (silent >= FTimes.LostAfterMs) {
        if (FAsked && OnUnanswered)
            OnUnanswered();
        Stop();
        FHealth = TLinkHealth::Lost;
        if (OnLost)
            OnLost(silent);
        return;
    }
    if (silent >= FTimes.StaleAfterMs) {
        const std::uint32_t seconds = silent / 1000;
        if (FHealth != TLinkHealth::Stale || seconds != FStaleSecondsShown) {
            FHealth = TLinkHealth::Stale;
            FStaleSecondsShown = seconds;
            if (OnStale)
                OnStale(silent);
        }
    }
    const std::uint32_t every = std::max<std::uint32_t>(FTimes.QuestionAfterMs(), 1);
    const bool due = silent >= every && (!FAsked || now - FAskedAt >= every);
    if (due && Ask && !(Busy && Busy())) {
        if (FAsked && OnUnanswered)
            OnUnanswered();
        FAsked = true;
        FAskedAt = now;
        Ask();
    }
}
