// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <deque>

// Unbounded list of packet copies in insertion order; readers always get a copy.
class TPacketList {
public:
    int Add(const TPacket& packet);
    int Add(TPacket&& packet);
    // Copies the element at `index` into `packet`; raises EListError outside 0..Count-1.
    void Get(int index, TPacket& packet) const;
    // Read-only access without copying, for renderers that walk the whole list.
    const TPacket& At(int index) const;
    void Delete(int index);
    int Count() const { return static_cast<int>(FItems.size()); }
    void Clear();

private:
    void Check(int index) const;
    // A deque, so that dropping the oldest element costs the same however long the list is.
    std::deque<TPacket> FItems;
};
