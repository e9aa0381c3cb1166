// SPDX-License-Identifier: Apache-2.0
// The module `karo`: result types, the error hierarchy and the free functions; the gripper
// itself is bound in GripperBinding.cpp.
#include "python/Binding.h"

#include "protocol/Constants.h"

#include <pybind11/eval.h>

namespace karo_py {

namespace {

// Plain Python, so the exceptions are ordinary classes with ordinary attributes and the results
// unpack, compare and print like any named tuple.
const char* const PythonPart = R"PY(
from collections import namedtuple as _nt

class Error(Exception):
    """Base of every error the gripper or its link reports."""

class GripperError(Error):
    """The gripper answered with an error status.

    status: the status code (int), name: its identifier ("E_RANGE_ERROR"),
    text: its text ("Range error")."""
    def __init__(self, message, status, name, text):
        super().__init__(message)
        self.status = status
        self.name = name
        self.text = text

class NoReply(Error, TimeoutError):
    """No reply within the reply time-out, or no final result within the time-out."""

class LinkError(Error, ConnectionError):
    """The link could not be opened, was lost, or the gripper was closed."""

def _tuple(name, fields, doc):
    t = _nt(name, fields)
    t.__doc__ = doc
    t.__module__ = "karo"
    return t

SystemInfo = _tuple("SystemInfo", "type hardware_revision firmware_revision serial_number",
    "The gripper's identity: type code, hardware and firmware revision, serial number.")
SystemLimits = _tuple("SystemLimits",
    "stroke min_speed max_speed min_acceleration max_acceleration min_force max_force",
    "The gripper's ranges: stroke in mm, speeds in mm/s, accelerations in mm/s², forces in N.")
GraspingStats = _tuple("GraspingStats", "grasps not_found lost",
    "Grasping statistics: grasps, parts not found, parts lost.")
SystemState = _tuple("SystemState", "value flags",
    "The system state word (int) and the names of the flags set in it (list of str).")
GraspingState = _tuple("GraspingState", "value text",
    "The grasping state (int) and its text.")
Result = _tuple("Result", "status text", "A motion's final result: status code and its text.")
Reply = _tuple("Reply", "status data",
    "A raw reply: the status code and the data after the status word (bytes).")
Update = _tuple("Update", "kind value time",
    "One automatic update. kind: 'system_state', 'grasping_state' or 'position'; value: the "
    "state (int) or the position in mm (float); time: seconds since the updates were switched on.")
del _tuple, _nt
)PY";

TTypes* TheTypes = nullptr;

} // namespace

TTypes& Types() {
    return *TheTypes;
}

void Raise(const TKaroError& error) {
    TTypes& t = Types();
    py::object e;
    switch (error.Kind) {
    case TKaroError::Gripper:
        e = t.GripperError(error.Message, static_cast<int>(error.Status),
                           StatusIdentName(error.Status).toStdString(),
                           StatusText(error.Status).toStdString());
        break;
    case TKaroError::NoReply:
        e = t.NoReply(error.Message);
        break;
    case TKaroError::Link:
        e = t.LinkError(error.Message);
        break;
    case TKaroError::Error:
        e = t.Error(error.Message);
        break;
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
    throw py::error_already_set();
}

bool SignalRaised() {
    py::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
}

} // namespace karo_py

PYBIND11_MODULE(karo, m) {
    using namespace karo_py;
    m.doc() = "Operate a Karo servo-electric gripper over TCP, UDP, a serial line or CAN.\n\n"
              "    with karo.Gripper(\"tcp://127.0.0.1:11000\") as g:\n"
              "        g.home()\n"
              "        g.grasp(37.0, 50.0)\n\n"
              "Each Gripper runs its link on a thread of its own; calls wait without holding "
              "the interpreter's lock, so several grippers can be driven at once.";
    m.attr("__version__") = KARO_VERSION;

    py::exec(PythonPart, m.attr("__dict__"));
    TheTypes = new TTypes{m.attr("SystemInfo"),   m.attr("SystemLimits"),  m.attr("GraspingStats"),
                          m.attr("SystemState"),  m.attr("GraspingState"), m.attr("Result"),
                          m.attr("Reply"),        m.attr("Update"),        m.attr("Error"),
                          m.attr("GripperError"), m.attr("NoReply"),       m.attr("LinkError")};

    m.def(
        "status_text",
        [](int code) {
            if (code < 0 || code > 255)
                throw py::value_error("a status code is 0..255");
            return StatusText(static_cast<std::uint8_t>(code)).toStdString();
        },
        py::arg("code"), "The text of a status code, e.g. status_text(28) -> 'Range error'.");
    m.def(
        "command_name",
        [](int id) {
            if (id < 0 || id > 255)
                throw py::value_error("a command identifier is 0..255");
            return CommandName(static_cast<std::uint8_t>(id)).toStdString();
        },
        py::arg("id"), "The name of a command identifier, e.g. command_name(0x43) -> 'GET_POS'.");

    BindGripper(m);
}
