// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "python/EngineThread.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace karo_py {

namespace py = pybind11;

// The result types and exception classes, made once when the module loads.
struct TTypes {
    py::object SystemInfo, SystemLimits, GraspingStats, SystemState, GraspingState, Result, Reply,
        Update;
    py::object Error, GripperError, NoReply, LinkError;
};
// Lives as long as the process: the objects must never be released after the interpreter.
TTypes& Types();

// Raises `error` as the matching Python exception.
[[noreturn]] void Raise(const TKaroError& error);

// How often a waiting call looks for Ctrl-C.
inline constexpr std::chrono::milliseconds SignalSlice{50};
inline constexpr std::chrono::microseconds SpinTime{200};

// True when Python has a pending signal whose handler raised (KeyboardInterrupt); takes the
// interpreter's lock for the check only. Call without holding it.
bool SignalRaised();

// The result of `future`, waiting without Python's lock. Ctrl-C ends the wait with the
// exception its handler raised (`checkSignals` false: the wait ignores it).
template <class R> R Await(std::future<R>& future, bool checkSignals = true) {
    bool interrupted = false;
    {
        py::gil_scoped_release nogil;
        // Most replies come within a fraction of a millisecond: yielding for that long saves
        // the wake-up from a sleep, which would be a good part of the round trip.
        const auto spinUntil = std::chrono::steady_clock::now() + SpinTime;
        while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
               std::chrono::steady_clock::now() < spinUntil)
            std::this_thread::yield();
        while (future.wait_for(SignalSlice) != std::future_status::ready)
            if (checkSignals && SignalRaised()) {
                interrupted = true;
                break;
            }
    }
    if (interrupted)
        throw py::error_already_set();
    try {
        return future.get();
    } catch (const std::future_error&) {
        Raise({TKaroError::Link, E_SUCCESS, "the gripper is closed"});
    } catch (const TKaroError& e) {
        Raise(e);
    }
}

void BindGripper(py::module_& m);

} // namespace karo_py
