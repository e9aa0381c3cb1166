// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// What an animation moves and how.
struct TAnimationOptions {
    std::int32_t Duration = 500;       // ms
    std::int32_t AnimatedProperty = 2; // 0 left, 1 top, 2 width, 3 height
    bool Quadratic = true;
    bool EaseOut = false; // quadratic only: fast start, slow end
    QPointer<QWidget> Control;
};

// The value at `percent` (0..100) of the way from `start` to `end` under `options`.
std::int32_t AnimationValue(const TAnimationOptions& options, std::int32_t start, std::int32_t end,
                            int percent);

// Sets the animated property of `control`. A height or width inside a parent layout becomes the
// control's fixed size, because the layout would undo a plain resize.
void ApplyAnimatedProperty(QWidget* control, std::int32_t property, std::int32_t value);

// Shared between one animation thread and the hand-overs it posts, so that neither outlives the
// state it waits on.
struct TAnimationHandOver {
    std::mutex Mutex;
    std::condition_variable Applied;
    bool StopRequested = false;
    std::uint64_t Posted = 0;
    std::uint64_t Done = 0;
};

class TSpkAnimator;

// Computes the values of one animation. Each value is posted to the user-interface thread and
// the thread waits until it has been applied there, or until it is asked to stop; it never
// blocks on the user-interface thread in a way a stop request cannot break.
class TAnimateThread : public QThread {
    Q_OBJECT
public:
    TAnimateThread(const TAnimationOptions& options, std::int32_t from, std::int32_t to,
                   QObject* receiver);
    ~TAnimateThread() override;

    // Wakes the thread and keeps it from posting anything more; safe from any thread.
    void RequestStop();
    std::int32_t CurrentValue() const { return FCurrent.load(); }

protected:
    void run() override;

private:
    // Returns false when asked to stop before the value was applied.
    bool HandOver(std::int32_t value);

    TAnimationOptions FOptions;
    std::int32_t FFrom;
    std::int32_t FTo;
    std::atomic<std::int32_t> FCurrent;
    QPointer<QObject> FReceiver; // lives on the user-interface thread
    std::shared_ptr<TAnimationHandOver> FHandOver;
};

// Runs one animation at a time; everything it changes is changed on the user-interface thread.
class TSpkAnimator : public QObject {
    Q_OBJECT
public:
    explicit TSpkAnimator(QObject* parent = nullptr);
    ~TSpkAnimator() override;

    TAnimationOptions& Options() { return FOptions; }
    const TAnimationOptions& Options() const { return FOptions; }
    void SetOptions(const TAnimationOptions& options) { FOptions = options; }

    // Starts moving the property from `from` to `to`; false (and nothing done) while busy.
    bool Start(std::int32_t from, std::int32_t to);
    bool IsIdle() const { return !FThread; }

    std::function<void(QObject* sender)> OnFinished;

private:
    void ThreadFinished();

    TAnimationOptions FOptions;
    std::unique_ptr<TAnimateThread> FThread;
};
