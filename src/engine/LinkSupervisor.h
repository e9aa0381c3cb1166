// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

class QTimer;
class TIniFile;

// How long the gripper may stay silent. Silence is normal (updates come only on change), so a
// question goes out after half of StaleAfterMs without a packet; a link that stays silent
// through StaleAfterMs is stale and through LostAfterMs lost.
struct TLinkTimes {
    static constexpr std::uint32_t DefaultStaleAfterMs = 2000;
    static constexpr std::uint32_t DefaultLostAfterMs = 5000;

    std::uint32_t StaleAfterMs = DefaultStaleAfterMs;
    std::uint32_t LostAfterMs = DefaultLostAfterMs;

    std::uint32_t QuestionAfterMs() const { return StaleAfterMs / 2; }
};

// "[link] StaleAfterMs=" and "LostAfterMs=" of a settings file; a missing or unusable value
// keeps its default, and the loss never comes before the staleness.
TLinkTimes ReadLinkTimes(const TIniFile& settings);

enum class TLinkHealth { Fresh, Stale, Lost };

// The pause before reconnection attempt `attempt` (1 for the first): 1, 2, 4, ... s, at most
// 10 s.
std::uint32_t ReconnectDelayMs(int attempt);

// Watches a connected link for silence. It counts packets, not bytes: a link that delivers only
// garbage is as silent as a dead one. Everything it needs comes through the hooks, and Check()
// reads the hooks' tick, so a test drives it with a fake clock and calls Check() itself.
class TLinkSupervisor : public QObject {
    Q_OBJECT
public:
    static constexpr int CheckIntervalMs = 100;

    explicit TLinkSupervisor(QObject* owner);

    std::function<std::uint32_t()> Tick;
    // Intact packets so far; any change counts as a sign of life.
    std::function<std::uint64_t()> Arrivals;
    // True while the question must wait (an exchange is waiting for its own reply).
    std::function<bool()> Busy;
    // Sends the harmless question.
    std::function<void()> Ask;
    // A question got no packet at all before the next one was due or the link was lost.
    std::function<void()> OnUnanswered;
    // Stale: at the change and whenever the whole seconds of silence grow. Fresh: packets came
    // again after a stale spell. Lost: once, after which supervision has stopped.
    std::function<void(std::uint32_t silentMs)> OnStale;
    std::function<void()> OnFresh;
    // Any packet since the previous check.
    std::function<void()> OnAlive;
    std::function<void(std::uint32_t silentMs)> OnLost;

    const TLinkTimes& Times() const { return FTimes; }
    void SetTimes(const TLinkTimes& times) { FTimes = times; }

    // Starts watching from now on. `askNow`: the first question goes out at once (a link that
    // must first show it works).
    void Start(bool askNow = false);
    void Stop();
    bool Running() const { return FRunning; }
    void Check();

    TLinkHealth Health() const { return FHealth; }
    // Since the latest packet (or the start); 0 while not running.
    std::uint32_t SilentMs() const;

private:
    QTimer* FTimer;
    TLinkTimes FTimes;
    TLinkHealth FHealth = TLinkHealth::Fresh;
    bool FRunning = false;
    bool FAsked = false;
    std::uint64_t FSeen = 0;
    std::uint32_t FLastSign = 0;
    std::uint32_t FAskedAt = 0;
    std::uint32_t FStaleSecondsShown = 0;
};
