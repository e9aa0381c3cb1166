#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Runs work of a worker thread on the user-interface thread and lets the worker wait until it
// ran. While the user-interface thread waits for the worker to end (WaitForWorker), it keeps
// running the worker's pending hand-overs, so a worker that is waiting for one can always go
// on: the wait cannot deadlock the way a blocking queued call can.
class THandOver {
public:
    // Created on the user-interface thread.
    THandOver();
    ~THandOver();
    THandOver(const THandOver&) = delete;
    THandOver& operator=(const THandOver&) = delete;

    // Worker: runs `work` on the user-interface thread and returns once it has run.
    void Run(std::function<void()> work);
    // Worker: last call of its run, so WaitForWorker stops waiting.
    void WorkerDone();

    // User-interface thread: runs every pending hand-over now.
    void Drain();
    // User-interface thread: returns once the worker called WorkerDone, running hand-overs
    // meanwhile. Called from inside a hand-over's work (a handler that closes), it first lets
    // the worker go on as if that work had finished.
    void WaitForWorker();

private:
    struct TTask {
        std::function<void()> Work;
        bool Done = false;
    };

    std::unique_ptr<QObject> FContext; // lives on the user-interface thread
    std::mutex FMutex;
    std::condition_variable FCv;
    std::deque<std::shared_ptr<TTask>> FTasks;
    std::vector<std::shared_ptr<TTask>> FRunning; // user-interface thread, innermost last
    bool FWorkerDone = false;
};
