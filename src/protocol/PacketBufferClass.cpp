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

void TPacketBuffer::Clear() {
    for (TPacket& p : FRing)
        p = TPacket{};
    FHead = 0;
    FCount = 0;
}
