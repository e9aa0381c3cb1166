// SPDX-License-Identifier: Apache-2.0
#include "devices/can/HandOver.h"

THandOver::THandOver() : FContext(std::make_unique<QObject>()) {}

THandOver::~THandOver() = default;

void THandOver::Run(std::function<void()> work) {
    auto task = std::make_shared<TTask>();
    task->Work = std::move(work);
    {
        std::lock_guard lock(FMutex);
        FTasks.push_back(task);
    }
    FCv.notify_all();
    // Posted to the context object: once the hand-over is gone, so is the posted call.
    QMetaObject::invokeMethod(
        FContext.get(), [this] { Drain(); }, Qt::QueuedConnection);
    std::unique_lock lock(FMutex);
    FCv.wait(lock, [&task] { return task->Taken; });
}

void THandOver::WorkerDone() {
    {
        std::lock_guard lock(FMutex);
        FWorkerDone = true;
    }
    FCv.notify_all();
}

void THandOver::Drain() {
    // Only the tasks queued by now: the worker queues its next one as soon as this one is taken,
    // and under a flood taking those too would keep the event loop from ever running. Each task
    // posted a call of its own, which takes it later.
    std::size_t queued = 0;
    {
        std::lock_guard lock(FMutex);
        queued = FTasks.size();
    }
    for (; queued > 0; --queued) {
        std::shared_ptr<TTask> task;
        {
            std::lock_guard lock(FMutex);
            if (FTasks.empty())
                return;
            task = FTasks.front();
            FTasks.pop_front();
            task->Taken = true;
        }
        FCv.notify_all();
        if (task->Work)
            task->Work();
    }
}

std::size_t THandOver::Pending() {
    std::lock_guard lock(FMutex);
    return FTasks.size();
}

void THandOver::WaitForWorker() {
    std::unique_lock lock(FMutex);
    while (!FWorkerDone) {
        if (!FTasks.empty()) {
            lock.unlock();
            Drain();
            lock.lock();
            continue;
        }
        FCv.wait(lock, [this] { return FWorkerDone || !FTasks.empty(); });
    }
}
