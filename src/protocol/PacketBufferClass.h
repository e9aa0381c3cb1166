// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <cstddef>
#include <functional>
#include <vector>

// Bounded first-in-first-out queue of received packets; owns its copies.
class TPacketBuffer {
public:
    explicit TPacketBuffer(int capacity);

    // False (and nothing added) when the queue already holds `capacity` packets.
    bool Add(const TPacket& packet);
    bool Add(TPacket&& packet);

    // Moves the oldest packet into `packet`; false and `packet` untouched when empty.
    bool Get(TPacket& packet);

    // Removes the oldest packet for which `which` holds, keeping the order of the others, and
    // returns its place (0 the oldest); -1 when none does.
    int RemoveOldest(const std::function<bool(const TPacket&)>& which, TPacket& removed);

    int Count() const { return FCount; }
    int Capacity() const { return static_cast<int>(FRing.size()); }
    void Clear();

private:
    std::vector<TPacket> FRing;
    std::size_t FHead = 0;
    int FCount = 0;
};
