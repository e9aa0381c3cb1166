// SPDX-License-Identifier: Apache-2.0
#include "protocol/PacketBufferClass.h"

#include <algorithm>
#include <utility>

TPacketBuffer::TPacketBuffer(int capacity)
    : FRing(static_cast<std::size_t>(capacity > 0 ? capacity : 0)) {}

bool TPacketBuffer::Add(const TPacket& packet) {
    TPacket copy;
    copy.ID = packet.ID;
    copy.Length = packet.Length;
    if (packet.Length > 0)
        copy.Data.assign(packet.Data.begin(),
                         packet.Data.begin() +
                             std::min<std::size_t>(packet.Data.size(), packet.Length));
    return Add(std::move(copy));
}

bool TPacketBuffer::Add(TPacket&& packet) {
    if (FCount >= Capacity())
        return false;
    FRing[(FHead + static_cast<std::size_t>(FCount)) % FRing.size()] = std::move(packet);
    ++FCount;
    return true;
}

bool TPacketBuffer::Get(TPacket& packet) {
    if (FCount == 0)
        return false;
    TPacket& slot = FRing[FHead];
    packet.ID = slot.ID;
    packet.Length = slot.Length;
    packet.Data = std::move(slot.Data);
    packet.Data.resize(slot.Length > 0 ? static_cast<std::size_t>(slot.Length) : 0);
    slot = TPacket{};
    FHead = (FHead + 1) % FRing.size();
    --FCount;
    return true;
}

int TPacketBuffer::RemoveOldest(const std::function<bool(const TPacket&)>& which,
                                TPacket& removed) {
    const std::size_t size = FRing.size();
    for (int k = 0; k < FCount; ++k) {
        TPacket& slot = FRing[(FHead + static_cast<std::size_t>(k)) % size];
        if (!which(slot))
            continue;
        removed = std::move(slot);
        // The older ones move up by one; usually there are none.
        for (int j = k; j > 0; --j)
            FRing[(FHead + static_cast<std::size_t>(j)) % size] =
                std::move(FRing[(FHead + static_cast<std::size_t>(j - 1)) % size]);
        FRing[FHead] = TPacket{};
        FHead = (FHead + 1) % size;
        --FCount;
        return k;
    }
    return -1;
}

void TPacketBuffer::Clear() {
    // A free slot is always empty (taking a packet out empties it), so only the queued ones
    // are reset: clearing a large, mostly empty queue at every connect cost a pass over it.
    for (int k = 0; k < FCount; ++k)
        FRing[(FHead + static_cast<std::size_t>(k)) % FRing.size()] = TPacket{};
    FHead = 0;
    FCount = 0;
}
