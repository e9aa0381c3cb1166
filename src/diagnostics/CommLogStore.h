// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"
#include "protocol/PacketLog.h"

#include <cstdint>
#include <deque>

// The command log's entries: packet copies with their direction, time and round trip.
//
// A full log holds a million entries, so the extras ride in the upper 24 bits of each copy's
// ID (the command identifier needs 8): the direction, the round trip (12 bits, up to 4093 ms,
// longer than any reply may take) and the time as an offset of up to 2047 ms from a base time.
// A new base is kept whenever an entry does not fit the current one; at the rate an update
// session logs that is one base for several dozen entries.
//
// An entry costs 16 bytes plus its payload: the payloads follow one another in one byte queue
// instead of each taking a heap block of its own, which at a handful of bytes each cost more than
// the bytes themselves.
//
// A link event is an entry of its own: the round-trip field holds a marker no reply can have,
// and the copy's payload holds the kind, the count (4 bytes) and then the event's bytes.
class TLogStore {
public:
    static constexpr int MaxRoundTripMs = 4093;
    static constexpr int EventHeader = 5;

    void Add(const TPacket& packet, bool received, const TLogStamp& stamp);
    void AddEvent(const TLinkEvent& event, const TLogStamp& stamp);
    bool IsEvent(int index) const {
        return ((Bits(index) >> RoundTripShift) & RoundTripMask) == EventMark;
    }
    TLinkEventKind EventKind(int index) const {
        return static_cast<TLinkEventKind>(Byte(index, 0));
    }
    std::uint32_t EventCount(int index) const;
    TLinkEvent Event(int index) const;
    int Count() const { return static_cast<int>(FEntries.size()); }
    // A copy as stored; its ID carries the extras above bit 7, which the line formatting ignores.
    TPacket Raw(int index) const;
    TPacket Packet(int index) const;
    std::uint8_t ID(int index) const { return static_cast<std::uint8_t>(Bits(index) & 0xFF); }
    bool Received(int index) const { return (Bits(index) & RxBit) != 0; }
    std::int64_t WallMs(int index) const;
    // -1 when the entry is no reply (and for an event).
    int RoundTripMs(int index) const;
    // Entries get consecutive numbers that survive dropping the oldest.
    std::int64_t FirstSeq() const { return FFirstSeq; }
    std::int64_t EndSeq() const { return FFirstSeq + Count(); }
    void DropOldest();
    void Clear();
    // What the entries hold in memory, payloads included.
    std::size_t Bytes() const;

private:
    static constexpr std::uint32_t RxBit = 1u << 8;
    static constexpr int RoundTripShift = 9;
    static constexpr std::uint32_t RoundTripMask = 0xFFF;
    static constexpr int OffsetShift = 21;
    static constexpr std::int64_t MaxOffsetMs = 0x7FF;
    static constexpr std::uint32_t EventMark = 0xFFF;

    void Append(std::int32_t id, const std::uint8_t* data, std::size_t n, bool received,
                std::uint32_t roundTripField, std::int64_t wallMs);

    struct TEntry {
        std::uint32_t Bits;
        std::uint32_t Length;
        std::int64_t Start; // in the byte queue, counted from the first byte ever stored
    };
    const TEntry& Entry(int index) const;
    std::uint32_t Bits(int index) const { return Entry(index).Bits; }
    std::uint8_t Byte(int index, std::size_t at) const {
        return FData[static_cast<std::size_t>(Entry(index).Start - FDataFirst) + at];
    }

    struct TBase {
        std::int64_t Seq; // first entry measured from it
        std::int64_t WallMs;
    };
    std::deque<TEntry> FEntries;
    std::deque<std::uint8_t> FData;
    std::int64_t FDataFirst = 0;
    std::deque<TBase> FBases;
    std::int64_t FFirstSeq = 0;
};
