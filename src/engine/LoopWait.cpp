// SPDX-License-Identifier: Apache-2.0
#include "engine/LoopWait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

bool TLoopWait::Until(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (!deadline.isForever())
            timer.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        QEventLoop* outer = FLoop;
        FLoop = &loop;
        loop.exec();
        FLoop = outer;
    }
    return true;
}

void TLoopWait::Wake() {
    if (FLoop)
        FLoop->quit();
}
