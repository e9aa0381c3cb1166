#pragma once

#include "protocol/Packet.h"
#include "protocol/Tick.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

// Turns a byte stream back into intact packets. A gap of more than 100 ms between two bytes
// inside a frame (or inside the preamble) drops what was gathered; a failed checksum drops the
// frame silently. Used by the command engine and the simulator alike.
class TPacketReceiver {
public:
    static constexpr std::uint32_t GapMs = 100;

    // `tick` defaults to the program's tick (GetTickCount).
    explicit TPacketReceiver(TTickSource tick = {});
    // The tick gaps are measured with from now on; empty for the program's tick.
    void SetTick(TTickSource tick) { FTick = std::move(tick); }

    // Back to searching with an empty, zero-filled payload buffer.
    void Reset();

    // Handles one byte; returns true and fills `out` when it completed an intact frame.
    bool Feed(std::uint8_t b, TPacket& out);

    // Receives each intact packet of a chunk, in order; returning false stops the chunk there.
    // It must not feed this receiver.
    using TPacketSink = std::function<bool(TPacket&)>;

    // Handles the bytes of one read. They arrived together, so one tick stands for all of them:
    // the result is what feeding them one by one at that tick gives. Returns the number of
    // bytes handled (`count` unless the sink stopped early).
    std::size_t Feed(const std::uint8_t* data, std::size_t count, const TPacketSink& sink);

    bool InPacket() const { return FInPacket; }
    std::int32_t Position() const { return FPosition; }

private:
    std::uint32_t Now() const { return FTick ? FTick() : GetTickCount(); }
    void StartPacket();

    TTickSource FTick;
    bool FInPacket = false;
    std::int32_t FPosition = 0;
    std::uint8_t FID = 0;
    std::uint32_t FExpected = 0;
    // Payload bytes already folded into FCrc; the rest is folded before the checksum bytes.
    std::uint32_t FFolded = 0;
    std::uint16_t FCrc = 0xFFFF;
    std::uint32_t FLastTick = 0;
    std::array<std::uint8_t, 65536> FBuffer{};
};
