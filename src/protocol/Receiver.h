// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"
#include "protocol/PacketLog.h"
#include "protocol/Tick.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

// Turns a byte stream back into intact packets. Every preamble opens a candidate frame, also
// inside the bytes of another candidate, so a false preamble or a damaged header never hides
// the frames behind it: the first candidate whose own bytes end with a good checksum is
// delivered, and every candidate that overlaps it is given up. A gap of more than 100 ms
// between two bytes drops what was gathered. Used by the command engine and the simulator.
class TPacketReceiver {
public:
    static constexpr std::uint32_t GapMs = 100;
    // Candidates pending at once; a further preamble gives up the second oldest.
    static constexpr int MaxCandidates = 16;

    using TLinkEventSink = std::function<void(const TLinkEvent& event)>;

    // `tick` defaults to the program's tick (GetTickCount).
    explicit TPacketReceiver(TTickSource tick = {});
    // The tick gaps are measured with from now on; empty for the program's tick.
    void SetTick(TTickSource tick) { FTick = std::move(tick); }

    // What was discarded: false preambles, bad checksums, skipped bytes, frames cut by a gap.
    // Called while bytes are fed; it must not feed this receiver.
    TLinkEventSink OnLinkEvent;

    // Back to searching with nothing pending and a zero-filled buffer.
    void Reset();

    // Handles one byte; returns true and fills `out` when it completed an intact frame.
    bool Feed(std::uint8_t b, TPacket& out);

    // Receives each intact packet of a chunk, in order; returning false stops the chunk there.
    // It must not feed this receiver.
    using TPacketSink = std::function<bool(TPacket&)>;

    // Handles the bytes of one read. They arrived together, so one tick stands for all of them:
    // the packets are those that feeding them one by one at that tick gives. Returns the
    // number of bytes handled (`count` unless the sink stopped early). Skipped bytes are
    // reported at the end of the read at the latest. A pause is measured from the end of the
    // previous read's handling.
    std::size_t Feed(const std::uint8_t* data, std::size_t count, const TPacketSink& sink);

    // Whether any candidate frame is pending, and how many.
    bool InPacket() const { return FCount > 0; }
    int Pending() const { return FCount; }
    // Consecutive preamble bytes at the end of what was fed (after the last frame or gap).
    std::uint32_t PreambleRun() const { return FRun; }

private:
    static constexpr std::size_t RingSize = 1u << 17; // holds the longest frame twice over
    static constexpr std::size_t RingMask = RingSize - 1;

    struct TCandidate {
        std::uint64_t Start = 0; // offset of its identifier byte
        std::uint64_t End = 0;   // offset after its last checksum byte, once the header is in
        bool Known = false;      // the header is in
    };

    std::uint32_t Now() const { return FTick ? FTick() : GetTickCount(); }
    template <class Sink>
    std::size_t Consume(const std::uint8_t* data, std::size_t count, Sink&& sink);
    // Handles the candidates whose next point is the stored end; true when a packet went out
    // and the sink asked to stop.
    template <class Sink> bool AtStoredEnd(Sink& sink);
    void Open(std::uint64_t start);
    void Remove(int index);
    void CutByPause();
    void FlushSkipped();
    std::uint64_t NextPoint() const;
    void Store(const std::uint8_t* data, std::size_t n);
    std::uint16_t RingCrc(std::uint64_t from, std::uint64_t to, std::uint16_t crc) const;
    // `n` bytes from the preamble of the candidate at `start` on.
    void Report(TLinkEventKind kind, std::uint64_t start, std::uint64_t n);

    TTickSource FTick;
    std::uint32_t FLastTick = 0;
    std::uint32_t FRun = 0;
    std::uint64_t FStored = 0; // bytes stored so far; ring index = offset & RingMask
    std::array<TCandidate, MaxCandidates> FCandidates{};
    int FCount = 0;
    // Bytes seen while nothing was pending, not yet reported, and how many of them came since
    // the last candidate ended (the preamble of the next one is among those).
    std::uint32_t FSkipped = 0;
    std::uint32_t FIdle = 0;
    std::array<std::uint8_t, RingSize> FRing{};
};
