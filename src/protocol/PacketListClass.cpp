// SPDX-License-Identifier: Apache-2.0
#include "protocol/PacketListClass.h"

#include "protocol/Errors.h"

int TPacketList::Add(const TPacket& packet) {
    TPacket copy = packet;
    copy.Data.resize(packet.Length > 0 ? static_cast<std::size_t>(packet.Length) : 0);
    return Add(std::move(copy));
}

int TPacketList::Add(TPacket&& packet) {
    FItems.push_back(std::move(packet));
    return Count() - 1;
}

void TPacketList::Check(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
}

void TPacketList::Get(int index, TPacket& packet) const {
    Check(index);
    packet = FItems[static_cast<std::size_t>(index)];
}

const TPacket& TPacketList::At(int index) const {
    Check(index);
    return FItems[static_cast<std::size_t>(index)];
}

void TPacketList::Delete(int index) {
    Check(index);
    FItems.erase(FItems.begin() + index);
}

void TPacketList::Clear() {
    FItems.clear();
}
