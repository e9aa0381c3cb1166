// SPDX-License-Identifier: Apache-2.0
#include "protocol/Constants.h"

const std::array<TCommandID, 28> CommandIDs = {{
    {"HOMING", 0x20},
    {"GOTO", 0x21},
    {"STOP", 0x22},
    {"FAST_STOP", 0x23},
    {"FAST_STOP_ACK", 0x24},
    {"GRASP_RAW", 0x25},
    {"RELEASE_RAW", 0x26},
    {"GRASP_PROFILE", 0x27},
    {"RELEASE_PROFILE", 0x28},
    {"SET_ACCELERATION", 0x30},
    {"GET_ACCELERATION", 0x31},
    {"SET_FORCE_LIMIT", 0x32},
    {"GET_FORCE_LIMIT", 0x33},
    {"SET_SOFT_LIMITS", 0x34},
    {"GET_SOFT_LIMITS", 0x35},
    {"CLEAR_SOFT_LIMITS", 0x36},
    {"OVERDRIVE_MODE", 0x37},
    {"TARE", 0x38},
    {"GET_SYSTEM_STATE", 0x40},
    {"GET_GRASPING_STATE", 0x41},
    {"GET_GRASPING_STATS", 0x42},
    {"GET_POS", 0x43},
    {"GET_SPEED", 0x44},
    {"GET_FORCE", 0x45},
    {"GET_SYSINFO", 0x50},
    {"SET_DEVICE_TAG", 0x51},
    {"GET_DEVICE_TAG", 0x52},
    {"GET_SYSTEM_LIMITS", 0x53},
}};

const std::array<TSysflagDescr, 18> SysflagDescr = {{
    {0x1, "Referenced"},
    {0x2, "Moving"},
    {0x4, "Blocked minus"},
    {0x8, "Blocked plus"},
    {0x10, "Soft limit minus"},
    {0x20, "Soft limit plus"},
    {0x40, "Axis stopped"},
    {0x80, "Target pos reached"},
    {0x100, "Overdrive mode"},
    {0x1000, "Fast stop"},
    {0x2000, "Temperature warning"},
    {0x4000, "Temperature fault"},
    {0x8000, "Power fault"},
    {0x10000, "Current fault"},
    {0x20000, "Finger fault"},
    {0x40000, "Command failure"},
    {0x80000, "Script is running"},
    {0x100000, "Script failure"},
}};

const std::array<const char*, 6> GraspingStateNames = {
    "idle", "grasping", "no part", "part lost", "holding", "releasing",
};

namespace {
struct StatusEntry {
    const char* Ident;
    const char* Text; // nullptr: no text of its own
};

constexpr std::array<StatusEntry, StatusCodeCount> StatusTable = {{
    {"E_SUCCESS", "No error"},
    {"E_NOT_AVAILABLE", "Service or data is not available"},
    {"E_NO_SENSOR", nullptr},
    {"E_NOT_INITIALIZED", "The device is not initialized"},
    {"E_ALREADY_RUNNING", "The requested service is already running"},
    {"E_FEATURE_NOT_SUPPORTED", "The asked feature is not supported"},
    {"E_INCONSISTENT_DATA", "One or more dependent parameters mismatch"},
    {"E_TIMEOUT", "Timeout error"},
    {"E_READ_ERROR", "Error while reading from a device"},
    {"E_WRITE_ERROR", "Error while writing to a device"},
    {"E_INSUFFICIENT_RESOURCES", "No memory available"},
    {"E_CHECKSUM_ERROR", "Checksum error"},
    {"E_NO_PARAM_EXPECTED", "No parameters expected"},
    {"E_NOT_ENOUGH_PARAMS", "Not enough parameters"},
    {"E_CMD_UNKNOWN", "Unknown command"},
    {"E_CMD_FORMAT_ERROR", "Command format error"},
    {"E_ACCESS_DENIED", "Access denied"},
    {"E_ALREADY_OPEN", "Interface already open"},
    {"E_CMD_FAILED", "Command failed"},
    {"E_CMD_ABORTED", "Command aborted"},
    {"E_INVALID_HANDLE", "Invalid handle"},
    {"E_NOT_FOUND", "Device or file not found"},
    {"E_NOT_OPENED", "Device or file not open"},
    {"E_IO_ERROR", "General I/O-Error"},
    {"E_INVALID_PARAMETER", "Invalid parameter"},
    {"E_INDEX_OUT_OF_BOUNDS", "Index out of bounds"},
    {"E_CMD_PENDING", "Command pending..."},
    {"E_OVERRUN", "Data overrun"},
    {"E_RANGE_ERROR", "Range error"},
    {"E_AXIS_BLOCKED", "Axis is blocked"},
    {"E_ALREADY_CLOSED", "Interface is already closed"},
    {"E_FILE_EXISTS", "File already exists"},
}};
} // namespace

QString CommandName(std::uint8_t id) {
    for (const TCommandID& c : CommandIDs)
        if (c.ID == id)
            return QString::fromLatin1(c.Name);
    return QStringLiteral("unknown ID(%1)").arg(id);
}

QString StatusText(std::uint8_t code) {
    if (code < StatusCodeCount && StatusTable[code].Text)
        return QString::fromLatin1(StatusTable[code].Text);
    return QStringLiteral("Internal error, unknown error code (%1)").arg(code);
}

QString StatusIdentName(std::uint8_t code) {
    return code < StatusCodeCount ? QString::fromLatin1(StatusTable[code].Ident) : QString();
}

QString GraspingStateText(std::uint8_t value) {
    return value < GraspingStateNames.size() ? QString::fromLatin1(GraspingStateNames[value])
                                             : QString::number(value);
}
