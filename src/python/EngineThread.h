// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DevicePrompts.h"
#include "engine/LoopWait.h"
#include "engine/MorvForm.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>

class QObject;
class QThread;

// An error as the Python side raises it; the binding turns each kind into its exception class.
struct TKaroError {
    enum TKind { Error, Gripper, NoReply, Link } Kind = Error;
    TStat Status = E_SUCCESS; // Gripper: the gripper's status code
    std::string Message;
};

// The final result of one motion, filled on the engine thread, read by the waiting caller.
struct TMotionState {
    std::uint8_t ID = 0;
    bool Done = false;
    TStat Status = E_SUCCESS;
};

// One automatic update: "system_state", "grasping_state" or "position".
struct TUpdate {
    const char* Kind = "";
    double Value = 0;
    double Time = 0; // seconds since the updates were switched on
};

// Makes sure the process has a QCoreApplication. Qt wants exactly one, and the thread that
// creates it becomes Qt's main thread for good; a Python script's main thread never runs a Qt
// event loop, so the application gets a thread of its own that only runs its loop (posted
// deletions, plugin and timer housekeeping). An application that already exists (a host
// program with Qt of its own) is used as it is. Each gripper's engine runs on its own QThread.
void EnsureQtApplication();
// Ends the thread made above; called once when the interpreter exits.
void StopQtApplication();

// One gripper's engine on a thread of its own with its own event loop. Every call is handed
// over to that thread and runs there once no exchange waits, so calls never nest in each other's
// waits; the caller gets a future. Thread-safe.
class TEngineThread {
public:
    TEngineThread();
    ~TEngineThread(); // ends the thread; the link is closed there
    TEngineThread(const TEngineThread&) = delete;
    TEngineThread& operator=(const TEngineThread&) = delete;

    // Runs `job` with the engine on its thread. When the thread is gone before the job ran, the
    // future reports a closed link.
    template <class R> std::future<R> Post(std::function<R(TEngineThread&)> job) {
        auto task = std::make_shared<std::packaged_task<R()>>(
            [this, job = std::move(job)] { return job(*this); });
        std::future<R> result = task->get_future();
        PostRaw([task] { (*task)(); });
        return result;
    }
    void Quit();

    // On the engine thread only.
    TMorv& Morv() { return *FMorv; }
    // Opens the link and waits until it is up; throws TKaroError.
    void Connect(const TConnectTarget& target, const QString& text, int timeoutMs);
    // Throws the error for a failed `status` of command `id`.
    void Check(std::uint8_t id, TStat status, bool pendingIsSuccess = false);
    // Starts a motion; `start` passes the handler to one of TMorv's motion calls.
    std::shared_ptr<TMotionState>
    StartMotion(const std::function<TStat(TMorv&, TAsyncResultEvent)>& start);
    void SetUpdates(bool on);

    // From any thread.
    bool LinkLost() const { return FLinkLost; }
    // Waits up to `slice` for the motion to end, the link to go or an update to come.
    void WaitSlice(std::chrono::milliseconds slice, const std::function<bool()>& ready);
    bool MotionDone(const TMotionState& motion);
    bool TakeUpdate(TUpdate& update);
    std::mutex& Mutex() { return FMutex; }

private:
    void Run();
    void PostRaw(std::function<void()> call);
    void Notify();
    void Push(const char* kind, double value);

    std::unique_ptr<QThread> FThread;
    QObject* FContext = nullptr; // lives on the engine thread
    TMorv* FMorv = nullptr;
    TLoopWait FWait;
    bool FConnected = false;
    std::atomic<bool> FLinkLost{false};
    bool FUpdating = false;
    std::chrono::steady_clock::time_point FUpdatesSince;

    std::mutex FMutex; // guards the post gate, the update queue and the motions' states
    std::condition_variable FChanged;
    bool FAccepting = false;
    std::deque<TUpdate> FUpdates;
};
