#include "diagnostics/CommLogStore.h"

#include <algorithm>

void TLogStore::Add(const TPacket& packet, bool received, const TLogStamp& stamp) {
    const std::int64_t seq = EndSeq();
    if (FBases.empty() || stamp.WallMs < FBases.back().WallMs ||
        stamp.WallMs - FBases.back().WallMs > MaxOffsetMs)
        FBases.push_back({seq, stamp.WallMs});
    const auto offset = static_cast<std::uint32_t>(stamp.WallMs - FBases.back().WallMs);
    const std::uint32_t roundTrip =
        stamp.RoundTripMs < 0
            ? 0
            : static_cast<std::uint32_t>(std::min(stamp.RoundTripMs, MaxRoundTripMs) + 1);
    TPacket copy = packet;
    copy.ID = static_cast<std::int32_t>((static_cast<std::uint32_t>(packet.ID) & 0xFF) |
                                        (received ? RxBit : 0u) | (roundTrip << RoundTripShift) |
                                        (offset << OffsetShift));
    copy.Data.resize(packet.Length > 0 ? static_cast<std::size_t>(packet.Length) : 0);
    FPackets.Add(std::move(copy));
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
