#pragma once

#include "protocol/Packet.h"

#include <cstddef>
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

    int Count() const { return FCount; }
    int Capacity() const { return static_cast<int>(FRing.size()); }
    void Clear();

private:
    std::vector<TPacket> FRing;
    std::size_t FHead = 0;
    int FCount = 0;
};
