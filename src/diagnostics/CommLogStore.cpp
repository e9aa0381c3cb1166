// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogStore.h"

#include "protocol/Errors.h"

#include <algorithm>

void TLogStore::Append(std::int32_t id, const std::uint8_t* data, std::size_t n, bool received,
                       std::uint32_t roundTripField, std::int64_t wallMs) {
    const std::int64_t seq = EndSeq();
    if (FBases.empty() || wallMs < FBases.back().WallMs ||
        wallMs - FBases.back().WallMs > MaxOffsetMs)
        FBases.push_back({seq, wallMs});
    const auto offset = static_cast<std::uint32_t>(wallMs - FBases.back().WallMs);
    const std::uint32_t bits = (static_cast<std::uint32_t>(id) & 0xFF) | (received ? RxBit : 0u) |
                               (roundTripField << RoundTripShift) | (offset << OffsetShift);
    const auto start = FDataFirst + static_cast<std::int64_t>(FData.size());
    FData.insert(FData.end(), data, data + n);
    FEntries.push_back({bits, static_cast<std::uint32_t>(n), start});
}

void TLogStore::Add(const TPacket& packet, bool received, const TLogStamp& stamp) {
    const std::uint32_t roundTrip =
        stamp.RoundTripMs < 0
            ? 0
            : static_cast<std::uint32_t>(std::min(stamp.RoundTripMs, MaxRoundTripMs) + 1);
    // A payload shorter than its length field is stored padded with zeros, as a copy would be.
    const std::size_t n = packet.Length > 0 ? static_cast<std::size_t>(packet.Length) : 0;
    const std::size_t have = std::min(n, packet.Data.size());
    Append(packet.ID, packet.Data.data(), have, received, roundTrip, stamp.WallMs);
    if (have < n) {
        FData.insert(FData.end(), n - have, 0);
        FEntries.back().Length = static_cast<std::uint32_t>(n);
    }
}

void TLogStore::AddEvent(const TLinkEvent& event, const TLogStamp& stamp) {
    const std::size_t n = std::min<std::size_t>(event.Bytes.size(), 256);
    TByteArray d(EventHeader + n);
    d[0] = static_cast<std::uint8_t>(event.Kind);
    for (int i = 0; i < 4; ++i)
        d[1 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(event.Count >> (8 * i));
    std::copy_n(event.Bytes.begin(), n, d.begin() + EventHeader);
    // The request whose reply is missing went out; everything else came in.
    Append(event.ID, d.data(), d.size(), event.Kind != TLinkEventKind::ReplyMissing, EventMark,
           stamp.WallMs);
}

std::uint32_t TLogStore::EventCount(int index) const {
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < 4; ++i)
        count |= static_cast<std::uint32_t>(Byte(index, 1 + i)) << (8 * i);
    return count;
}

TLinkEvent TLogStore::Event(int index) const {
    const TByteArray d = Raw(index).Data;
    TLinkEvent e;
    e.Kind = EventKind(index);
    e.Count = EventCount(index);
    e.ID = ID(index);
    e.Bytes.assign(d.begin() + EventHeader, d.end());
    return e;
}

const TLogStore::TEntry& TLogStore::Entry(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return FEntries[static_cast<std::size_t>(index)];
}

TPacket TLogStore::Raw(int index) const {
    const TEntry& e = Entry(index);
    TPacket p;
    p.ID = static_cast<std::int32_t>(e.Bits);
    p.Length = static_cast<std::int32_t>(e.Length);
    const auto from = FData.begin() + (e.Start - FDataFirst);
    p.Data.assign(from, from + e.Length);
    return p;
}

std::size_t TLogStore::Bytes() const {
    return FEntries.size() * sizeof(TEntry) + FData.size() + FBases.size() * sizeof(TBase);
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
    const TEntry& e = Entry(0);
    FData.erase(FData.begin(), FData.begin() + e.Length);
    FDataFirst += e.Length;
    FEntries.pop_front();
    ++FFirstSeq;
    while (FBases.size() >= 2 && FBases[1].Seq <= FFirstSeq)
        FBases.pop_front();
}

void TLogStore::Clear() {
    FEntries.clear();
    FData.clear();
    FDataFirst = 0;
    FBases.clear();
    FFirstSeq = 0;
}
