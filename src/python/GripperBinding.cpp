// SPDX-License-Identifier: Apache-2.0
// karo.Gripper, karo.Motion and the iterator of karo.Gripper.updates().
#include "python/Binding.h"

#include "devices/TargetText.h"
#include "protocol/Constants.h"

#include <cfloat>
#include <cmath>
#include <mutex>
#include <vector>

namespace karo_py {

namespace {

using namespace std::chrono_literals;

// One open gripper; shared by its Gripper object and the motions and updates it handed out.
struct TGripperCore {
    std::unique_ptr<TEngineThread> Engine;
    std::string Target;
    double Timeout = 30.0; // s: the connect and a motion's final result
    bool Closed = false;
    int UpdateReaders = 0;

    template <class R> R Call(std::function<R(TEngineThread&)> job, bool checkSignals = true) {
        if (Closed)
            Raise({TKaroError::Link, E_SUCCESS, "the gripper is closed"});
        std::future<R> f = Engine->Post<R>(std::move(job));
        return Await(f, checkSignals);
    }
    void Close();
};

// Grippers still open when the interpreter exits are closed before Qt's thread ends.
std::mutex OpenMutex;
std::vector<std::weak_ptr<TGripperCore>> OpenCores;
// Set once the interpreter exits: objects collected after that leave the closing to it.
bool Exiting = false;

void TGripperCore::Close() {
    if (Closed)
        return;
    Closed = true;
    const bool updates = UpdateReaders > 0;
    std::future<void> f = Engine->Post<void>([updates](TEngineThread& e) {
        if (updates) {
            try {
                e.SetUpdates(false);
            } catch (const TKaroError&) {
                // The link may be gone already; closing goes on.
            }
        }
        e.Morv().Disconnect();
    });
    py::gil_scoped_release nogil;
    f.wait();
    Engine->Quit();
}

void CloseAllAtExit() {
    Exiting = true;
    std::vector<std::weak_ptr<TGripperCore>> open;
    {
        const std::lock_guard lock(OpenMutex);
        open.swap(OpenCores);
    }
    for (const auto& w : open)
        if (const auto core = w.lock())
            core->Close();
    py::gil_scoped_release nogil;
    StopQtApplication();
}

float Checked(double v, const char* what) {
    if (!std::isfinite(v) || std::fabs(v) > FLT_MAX)
        throw py::value_error(std::string(what) + " must be a finite number");
    return static_cast<float>(v);
}

std::uint8_t Byte(int v, const char* what) {
    if (v < 0 || v > 255)
        throw py::value_error(std::string(what) + " must be 0..255");
    return static_cast<std::uint8_t>(v);
}

// A motion started on the gripper; its final result comes later.
class TMotion {
public:
    TMotion(std::shared_ptr<TGripperCore> core, std::shared_ptr<TMotionState> state)
        : FCore(std::move(core)), FState(std::move(state)) {}

    bool Done() const { return FCore->Engine->MotionDone(*FState); }

    py::object Wait(std::optional<double> timeout) {
        const double seconds = timeout ? *timeout : FCore->Timeout;
        if (!(seconds >= 0))
            throw py::value_error("timeout must be a number of seconds >= 0");
        TEngineThread& engine = *FCore->Engine;
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(std::min(seconds, 1e9)));
        bool interrupted = false;
        {
            py::gil_scoped_release nogil;
            while (!engine.MotionDone(*FState) && !engine.LinkLost() &&
                   std::chrono::steady_clock::now() < deadline) {
                engine.WaitSlice(SignalSlice, [this] { return FState->Done; });
                if (SignalRaised()) {
                    interrupted = true;
                    break;
                }
            }
        }
        const QString name = CommandName(FState->ID);
        if (interrupted)
            StopAndRaise();
        if (!engine.MotionDone(*FState)) {
            if (engine.LinkLost())
                Raise({TKaroError::Link, E_SUCCESS,
                       QStringLiteral("the link was lost before %1 finished")
                           .arg(name)
                           .toStdString()});
            Raise({TKaroError::NoReply, E_SUCCESS,
                   QStringLiteral("no final result of %1 within %2 s")
                       .arg(name)
                       .arg(seconds)
                       .toStdString()});
        }
        const TStat status = FState->Status;
        if (status != E_SUCCESS)
            Raise({TKaroError::Gripper, status,
                   QStringLiteral("%1: %2").arg(name, StatusText(status)).toStdString()});
        return Types().Result(static_cast<int>(status), StatusText(status).toStdString());
    }

    // Leaves the gripper standing, then lets the pending KeyboardInterrupt through.
    [[noreturn]] void StopAndRaise() {
        py::error_already_set interrupt; // taken out, so the Stop below cannot replace it
        if (!FCore->Closed) {
            try {
                FCore->Call<TStat>([](TEngineThread& e) { return e.Morv().Stop(); }, false);
            } catch (const py::error_already_set&) {
                // A gripper that cannot be stopped any more: the interrupt still counts.
            }
        }
        throw interrupt;
    }

    std::string Repr() const {
        return "<karo.Motion " + CommandName(FState->ID).toStdString() +
               (Done() ? " done>" : " running>");
    }

private:
    std::shared_ptr<TGripperCore> FCore;
    std::shared_ptr<TMotionState> FState;
};

// Automatic updates, switched on when made and off when exhausted, closed or collected.
class TUpdates {
public:
    TUpdates(std::shared_ptr<TGripperCore> core, std::optional<double> seconds)
        : FCore(std::move(core)) {
        if (seconds && !(*seconds >= 0))
            throw py::value_error("seconds must be a number >= 0 or None");
        FCore->Call<void>([](TEngineThread& e) { e.SetUpdates(true); });
        ++FCore->UpdateReaders;
        FOpen = true;
        if (seconds)
            FDeadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(std::min(*seconds, 1e9)));
    }
    ~TUpdates() {
        if (FOpen && !Exiting) {
            try {
                Close();
            } catch (const py::error_already_set&) {
                // Collected after its link went: nothing left to switch off.
            }
        }
    }

    py::object Next() {
        TEngineThread& engine = *FCore->Engine;
        TUpdate u;
        bool interrupted = false;
        bool got = false;
        if (FOpen) {
            py::gil_scoped_release nogil;
            while (!(got = engine.TakeUpdate(u)) && !engine.LinkLost() && !Expired()) {
                engine.WaitSlice(SignalSlice, [] { return false; });
                if (SignalRaised()) {
                    interrupted = true;
                    break;
                }
            }
        }
        if (got)
            return Types().Update(u.Kind,
                                  std::string_view(u.Kind) == "position"
                                      ? py::object(py::float_(u.Value))
                                      : py::object(py::int_(static_cast<long>(u.Value))),
                                  u.Time);
        if (interrupted) {
            py::error_already_set interrupt;
            try {
                Close();
            } catch (const py::error_already_set&) {
                // The interrupt counts more than switching the updates off.
            }
            throw interrupt;
        }
        if (FOpen && engine.LinkLost()) {
            FOpen = false;
            --FCore->UpdateReaders;
            Raise({TKaroError::Link, E_SUCCESS, "the link was lost during the updates"});
        }
        Close();
        throw py::stop_iteration();
    }

    void Close() {
        if (!FOpen)
            return;
        FOpen = false;
        if (--FCore->UpdateReaders == 0 && !FCore->Closed)
            FCore->Call<void>([](TEngineThread& e) { e.SetUpdates(false); }, false);
    }

private:
    bool Expired() const { return FDeadline && std::chrono::steady_clock::now() >= *FDeadline; }

    std::shared_ptr<TGripperCore> FCore;
    bool FOpen = false;
    std::optional<std::chrono::steady_clock::time_point> FDeadline;
};

class TGripper {
public:
    TGripper(const std::string& target, double timeout) : FCore(std::make_shared<TGripperCore>()) {
        QString error;
        const QString text = QString::fromStdString(target);
        const std::optional<TConnectTarget> parsed = ParseTarget(text, error);
        if (!parsed)
            throw py::value_error(error.toStdString());
        if (!std::isfinite(timeout) || timeout <= 0 || timeout > 2e6)
            throw py::value_error("timeout must be a number of seconds > 0");
        FCore->Target = target;
        FCore->Timeout = timeout;
        {
            py::gil_scoped_release nogil;
            FCore->Engine = std::make_unique<TEngineThread>();
        }
        const int ms = static_cast<int>(timeout * 1000);
        try {
            FCore->Call<void>(
                [t = *parsed, text, ms](TEngineThread& e) { e.Connect(t, text, ms); });
        } catch (...) {
            FCore->Close();
            throw;
        }
        const std::lock_guard lock(OpenMutex);
        OpenCores.push_back(FCore);
    }
    ~TGripper() {
        if (!Exiting)
            FCore->Close();
    }

    void Close() { FCore->Close(); }

    template <class R> R Call(std::function<R(TEngineThread&)> job) {
        return FCore->Call<R>(std::move(job));
    }

    py::object Info() {
        const TSystemInfo i = Call<TSystemInfo>([](TEngineThread& e) {
            TSystemInfo info;
            e.Check(CMD_GET_SYSINFO, e.Morv().GetSystemInfo(info));
            return info;
        });
        return Types().SystemInfo(static_cast<int>(i.Type), i.HardwareRevision, i.FirmwareRevision,
                                  i.SerialNumber);
    }

    py::object Limits() {
        const TSystemLimits l = Call<TSystemLimits>([](TEngineThread& e) {
            TSystemLimits limits;
            e.Check(CMD_GET_SYSTEM_LIMITS, e.Morv().GetSystemLimits(limits));
            return limits;
        });
        return Types().SystemLimits(l.Stroke, l.MinSpeed, l.MaxSpeed, l.MinAcceleration,
                                    l.MaxAcceleration, l.MinForce, l.MaxForce);
    }

    py::object Stats(bool reset) {
        const TGraspingStatistics s = Call<TGraspingStatistics>([reset](TEngineThread& e) {
            TGraspingStatistics stats;
            e.Check(CMD_GET_GRASPING_STATS, e.Morv().GetGraspingStatistics(reset, stats));
            return stats;
        });
        return Types().GraspingStats(s.NumberOfGrasps, s.NumberOfNotFoundParts,
                                     s.NumberOfPartsLost);
    }

    py::object SystemState() {
        const std::uint32_t v = Call<std::uint32_t>([](TEngineThread& e) {
            e.Check(CMD_GET_SYSTEM_STATE, e.Morv().GetSystemState(false, 0, false));
            return e.Morv().SystemState();
        });
        py::list flags;
        for (const TSysflagDescr& d : SysflagDescr)
            if (v & d.Flag)
                flags.append(d.Descr);
        return Types().SystemState(v, flags);
    }

    py::object GraspingState() {
        const std::uint8_t v = Call<std::uint8_t>([](TEngineThread& e) {
            e.Check(CMD_GET_GRASPING_STATE, e.Morv().GetGraspingState(false, 0, false));
            return e.Morv().GraspingState();
        });
        return Types().GraspingState(static_cast<int>(v), GraspingStateText(v).toStdString());
    }

    double Position() {
        return Call<float>([](TEngineThread& e) {
            e.Check(CMD_GET_POS, e.Morv().GetPosition(false, 0, false));
            return e.Morv().Position();
        });
    }

    py::object Motion(std::function<TStat(TMorv&, TAsyncResultEvent)> start, bool wait) {
        // The start is not given up on Ctrl-C (it ends within the reply time-out), or the motion
        // would run on unstopped; the wait below sees the interrupt and stops it.
        auto state = FCore->Call<std::shared_ptr<TMotionState>>(
            [start = std::move(start)](TEngineThread& e) { return e.StartMotion(start); }, false);
        TMotion motion(FCore, std::move(state));
        if (wait)
            return motion.Wait(std::nullopt);
        if (PyErr_CheckSignals() != 0)
            motion.StopAndRaise(); // Ctrl-C came during the start
        return py::cast(std::move(motion));
    }

    void Simple(std::uint8_t id, TStat (TMorv::*call)()) {
        Call<void>([id, call](TEngineThread& e) { e.Check(id, (e.Morv().*call)(), true); });
    }

    double GetValue(std::uint8_t id, TStat (TMorv::*get)(float&)) {
        return Call<float>([id, get](TEngineThread& e) {
            float v = 0;
            e.Check(id, (e.Morv().*get)(v));
            return v;
        });
    }
    void SetValue(std::uint8_t id, TStat (TMorv::*set)(float), double value, const char* what) {
        const float v = Checked(value, what);
        Call<void>([id, set, v](TEngineThread& e) { e.Check(id, (e.Morv().*set)(v), true); });
    }

    py::object Send(int id, const py::bytes& data) {
        const std::uint8_t cmd = Byte(id, "id");
        const std::string bytes = data;
        if (bytes.size() > 65535)
            throw py::value_error("a payload holds at most 65535 bytes");
        const TByteArray payload(bytes.begin(), bytes.end());
        const TExchangeOutcome o = Call<TExchangeOutcome>([cmd, payload](TEngineThread& e) {
            TExchangeOutcome outcome = e.Morv().Exchange(cmd, payload);
            if (outcome.Kind == TOutcomeKind::Replied && !outcome.HasStatus)
                throw TKaroError{TKaroError::Error, E_SUCCESS,
                                 CommandName(cmd).toStdString() + ": the reply has no status word"};
            if (!outcome.Usable())
                e.Check(cmd, outcome.Kind == TOutcomeKind::NoReply ? E_CMD_FAILED : E_NOT_OPENED);
            return outcome;
        });
        const std::string reply(o.Data.begin(), o.Data.end());
        return Types().Reply(static_cast<int>(o.Status()), py::bytes(reply));
    }

    std::shared_ptr<TGripperCore> Core() const { return FCore; }

private:
    std::shared_ptr<TGripperCore> FCore;
};

} // namespace

void BindGripper(py::module_& m) {
    py::module_::import("atexit").attr("register")(py::cpp_function(&CloseAllAtExit));
    // Every Python exception raised by Raise() passes through pybind11 as it stands.

    py::class_<TMotion>(m, "Motion", "A motion that was started with wait=False.")
        .def("wait", &TMotion::Wait, py::arg("timeout") = py::none(),
             "Waits for the final result and returns it as a Result. timeout in seconds, "
             "None: the Gripper's timeout. Raises GripperError for a result other than "
             "success, NoReply when none came in time, LinkError when the link went. Ctrl-C "
             "stops the gripper and raises KeyboardInterrupt.")
        .def_property_readonly("done", &TMotion::Done, "True once the final result came.")
        .def("__repr__", &TMotion::Repr);

    py::class_<TUpdates>(m, "Updates", "Iterator over automatic updates; see Gripper.updates().")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &TUpdates::Next)
        .def("close", &TUpdates::Close, "Switches the updates off (done at the end by itself).");

    const auto motion = [](TStat (TMorv::*call)(float, float, TAsyncResultEvent),
                           const char* first) {
        return [call, first](TGripper& g, double a, double speed, bool wait) {
            const float x = Checked(a, first), v = Checked(speed, "speed");
            return g.Motion(
                [call, x, v](TMorv& morv, TAsyncResultEvent h) {
                    return (morv.*call)(x, v, std::move(h));
                },
                wait);
        };
    };
    constexpr const char* motionDoc =
        " With wait=True (the default) waits for the final result and returns it as a "
        "Result; with wait=False returns a Motion at once. A refusal or a final result other "
        "than success raises GripperError; Ctrl-C while waiting stops the gripper and raises "
        "KeyboardInterrupt.";

    py::class_<TGripper>(m, "Gripper",
                         "One gripper on one link.\n\n"
                         "target: 'tcp://HOST:PORT', 'udp://HOST:PORT[?listen=PORT]', "
                         "'serial:DEVICE[?baud=RATE]' or 'can:NET[?id=ID&bitrate=RATE]' "
                         "(as karo-cli takes it). timeout: seconds for the connection and for "
                         "a motion's final result; each reply is awaited up to 3 s.\n"
                         "Raises ValueError for a bad target, LinkError when the link cannot "
                         "be opened. Use it in a with statement, or call close().")
        .def(py::init<const std::string&, double>(), py::arg("target"), py::arg("timeout") = 30.0)
        .def("close", &TGripper::Close,
             "Switches automatic updates off and closes the link; later calls raise LinkError.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](TGripper& g, const py::args&) { g.Close(); })
        .def("info", &TGripper::Info,
             "SystemInfo(type, hardware_revision, firmware_revision, "
             "serial_number).")
        .def("limits", &TGripper::Limits,
             "SystemLimits(stroke, min_speed, max_speed, min_acceleration, max_acceleration, "
             "min_force, max_force) in mm, mm/s, mm/s² and N.")
        .def("stats", &TGripper::Stats, py::arg("reset") = false,
             "GraspingStats(grasps, not_found, lost); reset=True clears them after reading.")
        .def("system_state", &TGripper::SystemState,
             "SystemState(value, flags): the state word and the names of its set flags.")
        .def("grasping_state", &TGripper::GraspingState, "GraspingState(value, text).")
        .def("position", &TGripper::Position, "The finger position in mm.")
        .def(
            "home",
            [](TGripper& g, bool wait) {
                return g.Motion(
                    [](TMorv& morv, TAsyncResultEvent h) { return morv.Homing(0, std::move(h)); },
                    wait);
            },
            py::arg("wait") = true, (std::string("Homes the fingers.") + motionDoc).c_str())
        .def("move", motion(&TMorv::GotoPosition, "position"), py::arg("position"),
             py::arg("speed"), py::arg("wait") = true,
             (std::string("Moves to position (mm) at speed (mm/s).") + motionDoc).c_str())
        .def("grasp", motion(&TMorv::Grasp, "width"), py::arg("width"), py::arg("speed"),
             py::arg("wait") = true,
             (std::string("Grasps a part of width (mm) at speed (mm/s).") + motionDoc).c_str())
        .def("release", motion(&TMorv::ReleasePart, "width"), py::arg("width"), py::arg("speed"),
             py::arg("wait") = true,
             (std::string("Releases the part, opening to width (mm) at speed (mm/s).") + motionDoc)
                 .c_str())
        .def(
            "stop", [](TGripper& g) { g.Simple(CMD_STOP, &TMorv::Stop); },
            "Stops the motion; its final result is then 'Command aborted'.")
        .def(
            "fast_stop", [](TGripper& g) { g.Simple(CMD_FAST_STOP, &TMorv::FastStop); },
            "Fast stop: motions are refused until ack_fast_stop().")
        .def(
            "ack_fast_stop",
            [](TGripper& g) { g.Simple(CMD_FAST_STOP_ACK, &TMorv::AcknowledgeFastStop); },
            "Acknowledges a fast stop.")
        .def_property(
            "acceleration",
            [](TGripper& g) { return g.GetValue(CMD_GET_ACCELERATION, &TMorv::GetAcceleration); },
            [](TGripper& g, double v) {
                g.SetValue(CMD_SET_ACCELERATION, &TMorv::SetAcceleration, v, "acceleration");
            },
            "The acceleration in mm/s², read from and written to the gripper.")
        .def_property(
            "force_limit",
            [](TGripper& g) { return g.GetValue(CMD_GET_FORCE_LIMIT, &TMorv::GetForceLimit); },
            [](TGripper& g, double v) {
                g.SetValue(CMD_SET_FORCE_LIMIT, &TMorv::SetForceLimit, v, "force_limit");
            },
            "The grasping force limit in N, read from and written to the gripper.")
        .def("send", &TGripper::Send, py::arg("id"), py::arg("data") = py::bytes(),
             "Sends command id (0..255) with the payload data (bytes) and returns the reply as "
             "Reply(status, data), whatever its status. Raises NoReply and LinkError, and Error "
             "for a reply without a status word.")
        .def(
            "updates",
            [](TGripper& g, std::optional<double> seconds) {
                return std::make_unique<TUpdates>(g.Core(), seconds);
            },
            py::arg("seconds") = py::none(),
            "Switches automatic updates on and iterates over them as Update(kind, value, time) "
            "for seconds (None: until the loop ends); switches them off at the end, when the "
            "loop is left, or on close().");
}

} // namespace karo_py
