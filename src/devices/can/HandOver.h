// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// Runs work of a worker thread on the user-interface thread; the worker waits until the
// user-interface thread has taken the work up. Waiting for the work to have finished instead
// would stall the worker for as long as a handler waits in the event loop (for a reply that
// only the worker can deliver). While the user-interface thread waits for the worker to end
// (WaitForWorker), it keeps taking up the worker's hand-overs, so that wait cannot deadlock the
// way a blocking queued call can.
class THandOver {
public:
    // Created on the user-interface thread.
    THandOver();
    ~THandOver();
    THandOver(const THandOver&) = delete;
    THandOver& operator=(const THandOver&) = delete;

    // Worker: runs `work` on the user-interface thread; returns once it has been taken up there.
    void Run(std::function<void()> work);
    // Worker: last call of its run, so WaitForWorker stops waiting.
    void WorkerDone();

    // User-interface thread: runs the hand-overs pending now, not those queued meanwhile.
    void Drain();
    std::size_t Pending();
    // User-interface thread: returns once the worker called WorkerDone, running hand-overs
    // meanwhile.
    void WaitForWorker();

private:
    struct TTask {
        std::function<void()> Work;
        bool Taken = false;
    };

    std::unique_ptr<QObject> FContext; // lives on the user-interface thread
    std::mutex FMutex;
    std::condition_variable FCv;
    std::deque<std::shared_ptr<TTask>> FTasks;
    bool FWorkerDone = false;
};
