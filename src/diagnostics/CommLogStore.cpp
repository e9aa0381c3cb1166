// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogStore.h"

#include <algorithm>

void TLogStore::Append(TPacket copy, bool received, std::uint32_t roundTripField,
                       std::int64_t wallMs) {
    const std::int64_t seq = EndSeq();
    if (FBases.empty() || wallMs < FBases.back().WallMs ||
        wallMs - FBases.back().WallMs > MaxOffsetMs)
        FBases.push_back({seq, wallMs});
    const auto offset = static_cast<std::uint32_t>(wallMs - FBases.back().WallMs);
    copy.ID = static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(copy.ID) & 0xFF) | (received ? RxBit : 0u) |
        (roundTripField << RoundTripShift) | (offset << OffsetShift));
    FPackets.Add(std::move(copy));
}

void TLogStore::Add(const TPacket& packet, bool received, const TLogStamp& stamp) {
    const std::uint32_t roundTrip =
        stamp.RoundTripMs < 0
            ? 0
            : static_cast<std::uint32_t>(std::min(stamp.RoundTripMs, MaxRoundTripMs) + 1);
    TPacket copy = packet;
    copy.Data.resize(packet.Length > 0 ? static_cast<std::size_t>(packet.Length) : 0);
    Append(std::move(copy), received, roundTrip, stamp.WallMs);
}

void TLogStore::AddEvent(const TLinkEvent& event, const TLogStamp& stamp) {
    TPacket copy;
    copy.ID = event.ID;
    const std::size_t n = std::min<std::size_t>(event.Bytes.size(), 256);
    copy.Data.resize(EventHeader + n);
    copy.Data[0] = static_cast<std::uint8_t>(event.Kind);
    for (int i = 0; i < 4; ++i)
        copy.Data[1 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(event.Count >> (8 * i));
    std::copy_n(event.Bytes.begin(), n, copy.Data.begin() + EventHeader);
    copy.Length = static_cast<std::int32_t>(copy.Data.size());
    // The request whose reply is missing went out; everything else came in.
    Append(std::move(copy), event.Kind != TLinkEventKind::ReplyMissing, EventMark, stamp.WallMs);
}

std::uint32_t TLogStore::EventCount(int index) const {
    const TByteArray& d = Raw(index).Data;
    return static_cast<std::uint32_t>(d[1]) | (static_cast<std::uint32_t>(d[2]) << 8) |
           (static_cast<std::uint32_t>(d[3]) << 16) | (static_cast<std::uint32_t>(d[4]) << 24);
}

TLinkEvent TLogStore::Event(int index) const {
    const TByteArray& d = Raw(index).Data;
    TLinkEvent e;
    e.Kind = EventKind(index);
    e.Count = EventCount(index);
    e.ID = ID(index);
    e.Bytes.assign(d.begin() + EventHeader, d.end());
    return e;
}

TPacket TLogStore::Packet(int index) const {
    TPacket p = Raw(index);
    p.ID = ID(index);
    return p;
}

std::int64_t TLogStore::WallMs(int index) const {
    const std::int64_t seq = FFirstSeq + index;
    auto it = std::upper_bound(FBases.begin(), FBases.end(), seq,
                               [](std::int64_t s, const TBase& b) { return s < b.Seq; });
    --it; // the first base is never after the first entry
    return it->WallMs + static_cast<std::int64_t>(Bits(index) >> OffsetShift);
}

int TLogStore::RoundTripMs(int index) const {
    if (IsEvent(index))
        return -1;
    return static_cast<int>((Bits(index) >> RoundTripShift) & RoundTripMask) - 1;
}

void TLogStore::DropOldest() {
    FPackets.Delete(0);
    ++FFirstSeq;
    while (FBases.size() >= 2 && FBases[1].Seq <= FFirstSeq)
        FBases.pop_front();
}

void TLogStore::Clear() {
    FPackets.Clear();
    FBases.clear();
    FFirstSeq = 0;
}
