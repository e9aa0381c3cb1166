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
    FCv.wait(lock, [&task] { return task->Done; });
}

void THandOver::WorkerDone() {
    {
        std::lock_guard lock(FMutex);
        FWorkerDone = true;
    }
    FCv.notify_all();
}

void THandOver::Drain() {
    for (;;) {
        std::shared_ptr<TTask> task;
        {
            std::lock_guard lock(FMutex);
            if (FTasks.empty())
                return;
            task = FTasks.front();
            FTasks.pop_front();
        }
        FRunning.push_back(task);
        // The worker must be released even if the work raises.
        struct Release {
            THandOver* Self;
            TTask* Task;
            ~Release() {
                Self->FRunning.pop_back();
                {
                    std::lock_guard lock(Self->FMutex);
                    Task->Done = true;
                }
                Self->FCv.notify_all();
            }
        } release{this, task.get()};
        if (task->Work)
            task->Work();
    }
}

void THandOver::WaitForWorker() {
    std::unique_lock lock(FMutex);
    // The worker waits for work that is further up this very stack.
    for (const auto& running : FRunning)
        running->Done = true;
    FCv.notify_all();
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
