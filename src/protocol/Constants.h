// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <array>
#include <cstdint>

// Status codes: the low byte of every reply's status word, and the result of every operation
// that talks to the gripper or a transport.
enum TStat : std::uint8_t {
    E_SUCCESS = 0,
    E_NOT_AVAILABLE,
    E_NO_SENSOR,
    E_NOT_INITIALIZED,
    E_ALREADY_RUNNING,
    E_FEATURE_NOT_SUPPORTED,
    E_INCONSISTENT_DATA,
    E_TIMEOUT,
    E_READ_ERROR,
    E_WRITE_ERROR,
    E_INSUFFICIENT_RESOURCES,
    E_CHECKSUM_ERROR,
    E_NO_PARAM_EXPECTED,
    E_NOT_ENOUGH_PARAMS,
    E_CMD_UNKNOWN,
    E_CMD_FORMAT_ERROR,
    E_ACCESS_DENIED,
    E_ALREADY_OPEN,
    E_CMD_FAILED,
    E_CMD_ABORTED,
    E_INVALID_HANDLE,
    E_NOT_FOUND,
    E_NOT_OPENED,
    E_IO_ERROR,
    E_INVALID_PARAMETER,
    E_INDEX_OUT_OF_BOUNDS,
    E_CMD_PENDING,
    E_OVERRUN,
    E_RANGE_ERROR,
    E_AXIS_BLOCKED,
    E_ALREADY_CLOSED,
    E_FILE_EXISTS,
};

inline constexpr int StatusCodeCount = 32;

// Command identifiers.
enum TCommandCode : std::uint8_t {
    CMD_HOMING = 0x20,
    CMD_GOTO = 0x21,
    CMD_STOP = 0x22,
    CMD_FAST_STOP = 0x23,
    CMD_FAST_STOP_ACK = 0x24,
    CMD_GRASP_RAW = 0x25,
    CMD_RELEASE_RAW = 0x26,
    CMD_GRASP_PROFILE = 0x27,
    CMD_RELEASE_PROFILE = 0x28,
    CMD_SET_ACCELERATION = 0x30,
    CMD_GET_ACCELERATION = 0x31,
    CMD_SET_FORCE_LIMIT = 0x32,
    CMD_GET_FORCE_LIMIT = 0x33,
    CMD_SET_SOFT_LIMITS = 0x34,
    CMD_GET_SOFT_LIMITS = 0x35,
    CMD_CLEAR_SOFT_LIMITS = 0x36,
    CMD_OVERDRIVE_MODE = 0x37,
    CMD_TARE = 0x38,
    CMD_GET_SYSTEM_STATE = 0x40,
    CMD_GET_GRASPING_STATE = 0x41,
    CMD_GET_GRASPING_STATS = 0x42,
    CMD_GET_POS = 0x43,
    CMD_GET_SPEED = 0x44,
    CMD_GET_FORCE = 0x45,
    CMD_GET_SYSINFO = 0x50,
    CMD_SET_DEVICE_TAG = 0x51,
    CMD_GET_DEVICE_TAG = 0x52,
    CMD_GET_SYSTEM_LIMITS = 0x53,
};

struct TCommandID {
    const char* Name;
    std::int32_t ID;
};

struct TSysflagDescr {
    std::uint32_t Flag;
    const char* Descr;
};

extern const std::array<TCommandID, 28> CommandIDs;
extern const std::array<TSysflagDescr, 18> SysflagDescr;
extern const std::array<const char*, 6> GraspingStateNames;

// System-state bits the program itself acts on.
inline constexpr std::uint32_t SF_REFERENCED = 0x1;
inline constexpr std::uint32_t SF_MOVING = 0x2;
inline constexpr std::uint32_t SF_BLOCKED_MINUS = 0x4;
inline constexpr std::uint32_t SF_BLOCKED_PLUS = 0x8;
inline constexpr std::uint32_t SF_SOFT_LIMIT_MINUS = 0x10;
inline constexpr std::uint32_t SF_SOFT_LIMIT_PLUS = 0x20;
inline constexpr std::uint32_t SF_AXIS_STOPPED = 0x40;
inline constexpr std::uint32_t SF_TARGET_POS_REACHED = 0x80;
inline constexpr std::uint32_t SF_OVERDRIVE_MODE = 0x100;
inline constexpr std::uint32_t SF_FAST_STOP = 0x1000;

// Grasping states.
enum TGraspingState : std::uint8_t {
    GS_IDLE = 0,
    GS_GRASPING = 1,
    GS_NO_PART = 2,
    GS_PART_LOST = 3,
    GS_HOLDING = 4,
    GS_RELEASING = 5,
};

// "GET_POS" for 0x43, "unknown ID(41)" for an identifier not in the table.
QString CommandName(std::uint8_t id);

// The user-facing text of a status code; "Internal error, unknown error code (n)" for 2 and
// everything above 31.
QString StatusText(std::uint8_t code);

// The enumeration name ("E_SUCCESS"); empty for codes above 31.
QString StatusIdentName(std::uint8_t code);

// The grasping-state text; values without a text come back as their decimal number.
QString GraspingStateText(std::uint8_t value);
