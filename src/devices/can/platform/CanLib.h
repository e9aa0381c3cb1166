// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <cstdint>

// The CAN library the transport was written against, on Qt Serial Bus: the same calls, the same
// arguments and the outcomes the transport relies on. Each net (CanNets) is one bus; every
// handle is a device of its own on that bus, driven by one library thread, so the calls may
// come from any thread and a blocking canRead never depends on the caller's event loop.

using TCanHandle = std::int32_t;

// One classic CAN frame.
struct TCanMsg {
    std::int32_t id = 0;  // 11-bit, or 29-bit when above 0x7FF
    std::uint8_t len = 0; // data bytes, 0 to 8
    std::uint8_t data[8] = {};
};

// Results; 0 is success. The first three are the ones the transport tells apart.
constexpr std::int32_t CAN_SUCCESS = 0;
constexpr std::int32_t CAN_RX_TIMEOUT = static_cast<std::int32_t>(0xE0000001u);
constexpr std::int32_t CAN_ABORTED = 995;
constexpr std::int32_t CAN_TX_ERROR = static_cast<std::int32_t>(0xE0000002u);
constexpr std::int32_t CAN_NET_NOT_FOUND = static_cast<std::int32_t>(0xE0000010u);
constexpr std::int32_t CAN_INVALID_HANDLE = static_cast<std::int32_t>(0xE0000011u);
constexpr std::int32_t CAN_INVALID_PARAMETER = static_cast<std::int32_t>(0xE0000012u);
constexpr std::int32_t CAN_BAUDRATE_REFUSED = static_cast<std::int32_t>(0xE0000013u);
constexpr std::int32_t CAN_ID_REFUSED = static_cast<std::int32_t>(0xE0000014u);
constexpr std::int32_t CAN_BUS_LOST = static_cast<std::int32_t>(0xE0000015u);
constexpr std::int32_t CAN_NOT_SUPPORTED = static_cast<std::int32_t>(0xE0000016u);

// canIoctl: makes a canRead that waits return CAN_ABORTED at once. An abort that finds no
// canRead waiting is kept for the next one, so a reader about to wait cannot miss it.
constexpr std::uint32_t CAN_IOCTL_ABORT_RX = 9;

// Opens `net` and waits until its bus is usable. Flags must be 0. Queue sizes: frames held for
// canRead (older frames stay, newer ones are dropped when it is full); the transmit queue is
// the bus's own. Time-outs in ms.
std::int32_t canOpen(int net, std::uint32_t flags, std::int32_t txQueueSize,
                     std::int32_t rxQueueSize, std::int32_t txTimeout, std::int32_t rxTimeout,
                     TCanHandle* handle);
// The same for a bus named directly ("virtualcan:can0"), without a net number.
std::int32_t canOpenBus(const QString& bus, std::uint32_t flags, std::int32_t txQueueSize,
                        std::int32_t rxQueueSize, std::int32_t txTimeout, std::int32_t rxTimeout,
                        TCanHandle* handle);
std::int32_t canClose(TCanHandle handle);
// Library code of the bit-rate table (0 = 1 MBit/s ... 13 = 10 kBit/s). A bus that cannot be
// set but whose rate differs is refused, with the reason in canErrorText.
std::int32_t canSetBaudrate(TCanHandle handle, std::uint32_t baud);
// Frames with this identifier are received from now on; no others are.
std::int32_t canIdAdd(TCanHandle handle, std::int32_t id);
// Waits up to the receive time-out for frames of the added identifiers. `*len` holds how many
// records `msg` has room for, and then how many were filled. `overlapped` must be null.
std::int32_t canRead(TCanHandle handle, TCanMsg* msg, std::int32_t* len, void* overlapped);
// Hands `*len` frames to the bus, in order; `*len` becomes how many it took.
std::int32_t canSend(TCanHandle handle, const TCanMsg* msg, std::int32_t* len);
std::int32_t canIoctl(TCanHandle handle, std::uint32_t command, void* arg);

// Why the last call on the handle failed, for the operator; empty after success.
QString canErrorText(TCanHandle handle);
