// SPDX-License-Identifier: Apache-2.0
#include "widgets/SpkAnimator.h"

#include "widgets/Rounding.h"

#include <QLayout>

#include <chrono>
#include <cmath>

std::int32_t AnimationValue(const TAnimationOptions& options, std::int32_t start, std::int32_t end,
                            int percent) {
    if (!options.Quadratic)
        return start +
               RoundHalfEvenToInt(static_cast<long double>(percent) * (end - start) / 100.0L);
    // k times the square, not k times the difference twice: k is inexact, and the two orders
    // round differently near halves.
    const long double span = static_cast<long double>(end) - start;
    const long double k = span / 10000.0L;
    if (options.EaseOut) {
        const long double d = percent - 100;
        return start + RoundHalfEvenToInt(span - k * (d * d));
    }
    return start + RoundHalfEvenToInt(k * (static_cast<long double>(percent) * percent));
}

void ApplyAnimatedProperty(QWidget* control, std::int32_t property, std::int32_t value) {
    if (!control)
        return;
    const QWidget* parent = control->parentWidget();
    const bool inLayout = parent && parent->layout() && parent->layout()->indexOf(control) >= 0;
    switch (property) {
    case 0:
        control->move(value, control->y());
        break;
    case 1:
        control->move(control->x(), value);
        break;
    case 2:
        if (inLayout)
            control->setFixedWidth(std::max(0, value));
        else
            control->resize(value, control->height());
        break;
    case 3:
        if (inLayout)
            control->setFixedHeight(std::max(0, value));
        else
            control->resize(control->width(), value);
        break;
    default:
        break;
    }
}

TAnimateThread::TAnimateThread(const TAnimationOptions& options, std::int32_t from, std::int32_t to,
                               QObject* receiver)
    : FOptions(options), FFrom(from), FTo(to), FCurrent(from), FReceiver(receiver),
      FHandOver(std::make_shared<TAnimationHandOver>()) {}

TAnimateThread::~TAnimateThread() {
    RequestStop();
    wait();
}

void TAnimateThread::RequestStop() {
    {
        std::lock_guard lock(FHandOver->Mutex);
        FHandOver->StopRequested = true;
    }
    FHandOver->Applied.notify_all();
}

bool TAnimateThread::HandOver(std::int32_t value) {
    FCurrent = value;
    std::unique_lock lock(FHandOver->Mutex);
    // Posting happens under the lock after checking the stop flag: whoever asks for a stop
    // (before destroying the receiver) is sure that nothing is posted afterwards.
    if (FHandOver->StopRequested || !FReceiver)
        return false;
    const std::uint64_t ticket = ++FHandOver->Posted;
    std::shared_ptr<TAnimationHandOver> shared = FHandOver;
    QPointer<QWidget> control = FOptions.Control;
    const std::int32_t property = FOptions.AnimatedProperty;
    QMetaObject::invokeMethod(
        FReceiver.data(),
        [shared, control, property, value, ticket] {
            ApplyAnimatedProperty(control.data(), property, value);
            {
                std::lock_guard applied(shared->Mutex);
                shared->Done = ticket;
            }
            shared->Applied.notify_all();
        },
        Qt::QueuedConnection);
    FHandOver->Applied.wait(lock,
                            [&] { return FHandOver->StopRequested || FHandOver->Done >= ticket; });
    return !FHandOver->StopRequested;
}

void TAnimateThread::run() {
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    const auto t1 = t0 + std::chrono::milliseconds(FOptions.Duration);
    const long double whole = std::chrono::duration<long double, std::milli>(t1 - t0).count();
    for (;;) {
        const auto now = Clock::now();
        if (now >= t1)
            break;
        const long double elapsed =
            std::chrono::duration<long double, std::milli>(now - t0).count();
        const int percent = RoundHalfEvenToInt(elapsed * 100.0L / whole);
        if (!HandOver(AnimationValue(FOptions, FFrom, FTo, percent)))
            return;
    }
    HandOver(FTo);
}

TSpkAnimator::TSpkAnimator(QObject* parent) : QObject(parent) {}

TSpkAnimator::~TSpkAnimator() {
    if (FThread) {
        FThread->RequestStop();
        FThread->wait();
        FThread.reset();
    }
}

bool TSpkAnimator::Start(std::int32_t from, std::int32_t to) {
    if (FThread)
        return false;
    FThread = std::make_unique<TAnimateThread>(FOptions, from, to, this);
    connect(FThread.get(), &QThread::finished, this, &TSpkAnimator::ThreadFinished,
            Qt::QueuedConnection);
    FThread->start();
    return true;
}

void TSpkAnimator::ThreadFinished() {
    if (!FThread)
        return;
    FThread->wait();
    FThread.reset();
    if (OnFinished)
        OnFinished(this);
}
