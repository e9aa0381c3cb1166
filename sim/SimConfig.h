// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QSet>

#include <cstdint>

// What the simulated gripper is and how it behaves at start-up.
struct TGripperConfig {
    float PartWidth = 40.0f; // width of the part between the fingers, mm
    bool HasPart = true;
    bool Referenced = false;
    float StartPosition = 55.0f;
    std::uint8_t Type = 1;
    std::uint8_t HardwareRevision = 2;
    std::uint16_t FirmwareRevision = 0x0104;
    std::uint32_t SerialNumber = 12345678;
    // > 0: a held part slips out of the fingers this many ms after the grasp closed on it.
    int LosePartAfterMs = 0;
};

// Faults injected on every link; they apply to what the simulator sends, never to the model.
struct TSimFaults {
    int DelayMs = 0;              // every outgoing frame leaves this late; order is kept
    double DropRate = 0.0;        // probability that an outgoing frame is not sent at all
    double CorruptRate = 0.0;     // probability that one bit of an outgoing frame is flipped
    int DisconnectAfter = 0;      // > 0: a link is closed after answering this many frames
    QSet<std::uint8_t> SilentIds; // nothing with these identifiers is ever sent
    // Once per link, before its first state packet: AA AA AA 40 FF FF, a header announcing
    // 65535 bytes that never come.
    bool FalseHeader = false;
    // Automatic updates go out as fast as the link takes them, not at their period.
    bool FloodUpdates = false;
    std::uint32_t Seed = 1;
    bool Verbose = false;
};
