#pragma once

#include "protocol/Packet.h"
#include "protocol/Tick.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Turns a byte stream back into intact packets. A gap of more than 100 ms between two bytes
// inside a frame (or inside the preamble) drops what was gathered; a failed checksum drops the
// frame silently. Used by the command engine and the simulator alike.
class TPacketReceiver {
public:
    static constexpr std::uint32_t GapMs = 100;

    // `tick` defaults to the program's tick (GetTickCount).
    explicit TPacketReceiver(TTickSource tick = {});

    // Back to searching with an empty, zero-filled payload buffer.
    void Reset();

    // Handles one byte; returns true and fills `out` when it completed an intact frame.
    bool Feed(std::uint8_t b, TPacket& out);

    bool InPacket() const { return FInPacket; }
    std::int32_t Position() const { return FPosition; }

private:
    TTickSource FTick;
    bool FInPacket = false;
    std::int32_t FPosition = 0;
    std::uint8_t FID = 0;
    std::uint32_t FExpected = 0;
    std::uint16_t FCrc = 0xFFFF;
    std::uint32_t FLastTick = 0;
    std::array<std::uint8_t, 65536> FBuffer{};
};
