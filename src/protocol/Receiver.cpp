// SPDX-License-Identifier: Apache-2.0
#include "protocol/Receiver.h"

#include "protocol/crc.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t MaxReported = 256; // bytes an event carries
constexpr std::uint64_t HeaderBytes = 3; // identifier and length
constexpr std::uint64_t TrailerBytes = 2;

std::size_t IndexOf(const void* hit, const std::uint8_t* data) {
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
}
// Whether a preamble ends among the first `n` bytes after a complete one.
bool OpensFrame(const std::uint8_t* data, std::size_t n) {
    if (data[0] == PreambleByte)
        return true;
    for (std::size_t k = 1; k + 2 < n;) {
        const void* hit = std::memchr(data + k, PreambleByte, n - 2 - k);
        if (!hit)
            return false;
        k = IndexOf(hit, data);
        if (data[k + 1] == PreambleByte && data[k + 2] == PreambleByte)
            return true;
        ++k;
    }
    return false;
}
} // namespace

TPacketReceiver::TPacketReceiver(TTickSource tick) : FTick(std::move(tick)) {
    Reset();
}

void TPacketReceiver::Reset() {
    FRun = 0;
    FStored = 0;
    FCount = 0;
    FSkipped = 0;
    FIdle = 0;
    FRing.fill(0);
}

bool TPacketReceiver::Feed(std::uint8_t b, TPacket& out) {
    bool got = false;
    Consume(&b, 1, [&out, &got](TPacket& packet) {
        out = std::move(packet);
        got = true;
        return true;
    });
    return got;
}

std::size_t TPacketReceiver::Feed(const std::uint8_t* data, std::size_t count,
                                  const TPacketSink& sink) {
    const std::size_t used =
        Consume(data, count, [&sink](TPacket& packet) { return !sink || sink(packet); });
    // The next pause is counted from here: time spent handling a long read (or in the sink)
    // is no pause on the line.
    FLastTick = Now();
    // Preamble bytes at the end may still open a frame.
    const std::uint32_t held = FCount == 0 ? std::min(FSkipped, FRun) : 0;
    FSkipped -= held;
    FlushSkipped();
    FSkipped = held;
    return used;
}

template <class Sink>
std::size_t TPacketReceiver::Consume(const std::uint8_t* data, std::size_t count, Sink&& sink) {
    if (count == 0)
        return 0;
    const std::uint32_t now = Now();
    const bool gathered = FRun > 0 || (FCount > 0 && FCandidates[0].Start < FStored);
    if (gathered && static_cast<std::uint32_t>(now - FLastTick) > GapMs)
        CutByPause();
    FLastTick = now;

    std::size_t i = 0;
    while (i < count) {
        if (FCount == 0) {
            // Nothing pending: skip straight to the next preamble byte.
            if (FRun == 0) {
                const void* hit = std::memchr(data + i, PreambleByte, count - i);
                const std::size_t j = hit ? IndexOf(hit, data) : count;
                FSkipped += static_cast<std::uint32_t>(j - i);
                FIdle += static_cast<std::uint32_t>(j - i);
                i = j;
                if (i == count)
                    break;
            }
            const std::uint8_t b = data[i++];
            ++FSkipped;
            ++FIdle;
            if (b != PreambleByte)
                FRun = 0;
            else if (++FRun >= 3)
                Open(FStored);
            continue;
        }

        if (FCount == 1 && FCandidates[0].Start == FStored && count - i >= 5) {
            // The usual case: one frame whole in this read, without a preamble of its own, goes
            // out straight from the read.
            const std::size_t n =
                HeaderBytes + TrailerBytes + (data[i + 1] | (std::size_t{data[i + 2]} << 8));
            if (count - i >= n && !OpensFrame(data + i, n)) {
                if (Crc16Block(data + i, n, Crc16Preamble) == 0) {
                    FRun = 0;
                    TPacket packet;
                    packet.ID = data[i];
                    packet.Length = static_cast<std::int32_t>(n - 5);
                    packet.Data.assign(data + i + HeaderBytes, data + i + n - TrailerBytes);
                    FCount = 0;
                    FIdle = 0;
                    i += n;
                    if (!sink(packet))
                        return i;
                    continue;
                }
            }
        }
        // Bytes up to the next point where a header is in or a frame ends are stored at once.
        std::size_t stop =
            i + static_cast<std::size_t>(std::min<std::uint64_t>(count - i, NextPoint() - FStored));
        Store(data + i, stop - i);
        // A preamble among them opens a candidate whose header may be in before `stop`.
        std::size_t k = i;
        while (k < stop) {
            if (FRun == 0) {
                const void* hit = std::memchr(data + k, PreambleByte, stop - k);
                if (!hit)
                    break;
                k = IndexOf(hit, data);
            }
            if (data[k++] != PreambleByte) {
                FRun = 0;
            } else if (++FRun >= 3) {
                Open(FStored + (k - i));
                stop = std::min<std::size_t>(stop, k + HeaderBytes);
            }
        }
        FStored += stop - i;
        i = stop;
        if (AtStoredEnd(sink))
            return i;
    }
    return count;
}

template <class Sink> bool TPacketReceiver::AtStoredEnd(Sink& sink) {
    for (int c = 0; c < FCount;) {
        TCandidate& k = FCandidates[static_cast<std::size_t>(c)];
        if (!k.Known) {
            if (FStored == k.Start + HeaderBytes) {
                const std::uint32_t length =
                    FRing[(k.Start + 1) & RingMask] |
                    (static_cast<std::uint32_t>(FRing[(k.Start + 2) & RingMask]) << 8);
                k.End = k.Start + HeaderBytes + length + TrailerBytes;
                k.Known = true;
            }
            ++c;
            continue;
        }
        if (k.End != FStored) {
            ++c;
            continue;
        }
        if (RingCrc(k.Start, k.End, Crc16Preamble) != 0) {
            // One that starts inside an older candidate may be that one's data; only the oldest
            // is known to be a frame of its own.
            if (c == 0)
                Report(TLinkEventKind::BadChecksum, k.Start, k.End - k.Start + 3);
            Remove(c);
            continue;
        }
        if (c > 0)
            Report(TLinkEventKind::FalsePreamble, FCandidates[0].Start,
                   k.Start - FCandidates[0].Start);
        TPacket packet;
        packet.ID = FRing[k.Start & RingMask];
        const std::size_t length = static_cast<std::size_t>(k.End - k.Start - 5);
        packet.Length = static_cast<std::int32_t>(length);
        const std::size_t at = (k.Start + HeaderBytes) & RingMask;
        if (at + length <= RingSize) {
            packet.Data.assign(FRing.begin() + static_cast<std::ptrdiff_t>(at),
                               FRing.begin() + static_cast<std::ptrdiff_t>(at + length));
        } else {
            packet.Data.resize(length);
            const std::size_t first = RingSize - at;
            std::memcpy(packet.Data.data(), FRing.data() + at, first);
            std::memcpy(packet.Data.data() + first, FRing.data(), length - first);
        }
        // The bytes of a delivered frame belong to no other.
        FCount = 0;
        FRun = 0;
        FIdle = 0;
        return !sink(packet);
    }
    return false;
}

void TPacketReceiver::Open(std::uint64_t start) {
    if (FCount == 0) {
        // Its preamble was counted among the skipped bytes.
        FSkipped -= std::min({FSkipped, FIdle, 3u});
        FlushSkipped();
    }
    // Full: the oldest stays, since the others lie inside its bytes (a long payload may be
    // full of preamble bytes), and so does the newest; the next oldest goes.
    if (FCount == MaxCandidates)
        Remove(1);
    FCandidates[static_cast<std::size_t>(FCount++)] = {start, 0, false};
    FIdle = 0;
}

void TPacketReceiver::Remove(int index) {
    for (int c = index; c + 1 < FCount; ++c)
        FCandidates[static_cast<std::size_t>(c)] = FCandidates[static_cast<std::size_t>(c + 1)];
    --FCount;
}

void TPacketReceiver::CutByPause() {
    FRun = 0;
    if (FCount == 0)
        return;
    Report(TLinkEventKind::CutByPause, FCandidates[0].Start, FStored - FCandidates[0].Start + 3);
    // A preamble that has just ended takes its identifier however late it comes.
    const TCandidate& newest = FCandidates[static_cast<std::size_t>(FCount - 1)];
    if (newest.Start == FStored) {
        FCandidates[0] = newest;
        FCount = 1;
    } else {
        FCount = 0;
    }
}

void TPacketReceiver::FlushSkipped() {
    if (FSkipped == 0)
        return;
    if (OnLinkEvent) {
        TLinkEvent event;
        event.Kind = TLinkEventKind::SkippedBytes;
        event.Count = FSkipped;
        OnLinkEvent(event);
    }
    FSkipped = 0;
}

std::uint64_t TPacketReceiver::NextPoint() const {
    std::uint64_t next = UINT64_MAX;
    for (int c = 0; c < FCount; ++c) {
        const TCandidate& k = FCandidates[static_cast<std::size_t>(c)];
        next = std::min(next, k.Known ? k.End : k.Start + HeaderBytes);
    }
    return next;
}

void TPacketReceiver::Store(const std::uint8_t* data, std::size_t n) {
    const std::size_t at = FStored & RingMask;
    const std::size_t first = std::min(n, RingSize - at);
    std::memcpy(FRing.data() + at, data, first);
    if (n > first)
        std::memcpy(FRing.data(), data + first, n - first);
}

std::uint16_t TPacketReceiver::RingCrc(std::uint64_t from, std::uint64_t to,
                                       std::uint16_t crc) const {
    const std::size_t at = from & RingMask;
    const std::size_t n = static_cast<std::size_t>(to - from);
    const std::size_t first = std::min(n, RingSize - at);
    crc = Crc16Block(FRing.data() + at, first, crc);
    if (n > first)
        crc = Crc16Block(FRing.data(), n - first, crc);
    return crc;
}

void TPacketReceiver::Report(TLinkEventKind kind, std::uint64_t start, std::uint64_t n) {
    if (!OnLinkEvent)
        return;
    TLinkEvent event;
    event.Kind = kind;
    event.Count = static_cast<std::uint32_t>(n);
    const std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(n, MaxReported));
    event.Bytes.reserve(kept);
    for (std::size_t j = 0; j < kept; ++j)
        event.Bytes.push_back(j < 3 ? PreambleByte : FRing[(start + j - 3) & RingMask]);
    OnLinkEvent(event);
}
