// SPDX-License-Identifier: Apache-2.0
// The receive state machine fed arbitrary bytes. The first input byte picks the mode: raw bytes
// as they come, or a wire built from the input: intact frames among damaged ones, false
// headers, stray bytes and pauses. Property: every intact frame the wire delivered whole comes
// out once, in order, with its own last byte; fed in reads, the same packets come out.
#include "FuzzSupport.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"
#include "protocol/crc.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::uint32_t gNow = 0;

struct TFrameAt {
    std::size_t First = 0; // stream index of its first preamble byte
    std::size_t Last = 0;  // of its last checksum byte
    bool Sure = true;      // no preamble among its own bytes that could end first
};

struct TOut {
    std::size_t Last = 0;
    TPacket Packet;
};

// Kept across inputs, so an input allocates nothing big.
TPacketReceiver& Receiver() {
    static TPacketReceiver r([] { return gNow; });
    return r;
}
std::vector<std::uint8_t> gWire;
std::vector<std::uint32_t> gPauseBefore; // ms before each byte
std::vector<TFrameAt> gIntact;
std::vector<TOut> gBytewise;

bool HoldsPreamble(const std::uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i + 2 < n; ++i)
        if (data[i] == PreambleByte && data[i + 1] == PreambleByte && data[i + 2] == PreambleByte)
            return true;
    return false;
}

void Append(const TByteArray& bytes, std::uint32_t pauseInside, std::size_t at) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        gWire.push_back(bytes[i]);
        gPauseBefore.push_back(i == at ? pauseInside : 0);
    }
}

int RawMode(const std::uint8_t* data, std::size_t size) {
    TPacketReceiver& receiver = Receiver();
    receiver.Reset();
    TPacket out;
    // The tick steps by the low bits of the mode byte.
    const std::uint32_t step = (data[0] >> 1) & 0x7F;
    for (std::size_t i = 1; i < size; ++i) {
        gNow += step;
        if (receiver.Feed(data[i], out)) {
            FuzzCheck(out.Length >= 0 && out.Length <= MaxPayloadLength);
            FuzzCheck(out.Data.size() == static_cast<std::size_t>(out.Length));
            FuzzCheck(out.ID >= 0 && out.ID <= 255);
            // It came off the wire whole: the bytes just fed are its frame.
            const std::size_t n = out.Data.size() + FrameOverhead;
            FuzzCheck(i >= n);
            FuzzCheck(Crc16Block(data + i + 1 - n, n, Crc16Initial) == 0);
            FuzzCheck(out.Data.empty() ||
                      std::memcmp(data + i + 1 - n + 6, out.Data.data(), out.Data.size()) == 0);
        }
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    gNow = 0;
    if ((data[0] & 1) == 0)
        return RawMode(data, size);

    gWire.clear();
    gPauseBefore.clear();
    gIntact.clear();
    FuzzedDataProvider fdp(data + 1, size - 1);
    while (fdp.remaining_bytes() > 0) {
        const std::uint8_t kind = fdp.ConsumeIntegral<std::uint8_t>();
        const auto id = fdp.ConsumeIntegral<std::uint8_t>();
        const TByteArray payload = fdp.ConsumeBytes<std::uint8_t>(
            fdp.ConsumeIntegralInRange<std::size_t>(0, (kind & 0x80) ? MaxPayloadLength : 64));
        TByteArray frame = MakeFrame(id, payload);
        FuzzCheck(frame.size() == payload.size() + FrameOverhead);
        bool intact = true;
        switch (kind & 0x07) {
        case 1: // one bit flipped after the preamble
            if (frame.size() > 3) {
                const std::size_t at =
                    3 + fdp.ConsumeIntegral<std::uint16_t>() % (frame.size() - 3);
                frame[at] ^= static_cast<std::uint8_t>(1u << (kind >> 4 & 7));
                intact = false;
            }
            break;
        case 2: // cut short
            frame.resize(fdp.ConsumeIntegralInRange<std::size_t>(0, frame.size() - 1));
            intact = false;
            break;
        case 3: { // stray bytes in front, often preamble bytes
            const std::uint8_t stray =
                (kind & 0x20) ? PreambleByte : fdp.ConsumeIntegral<std::uint8_t>();
            frame.insert(frame.begin(), fdp.ConsumeIntegralInRange<std::size_t>(1, 4), stray);
            break;
        }
        case 4: // a false header: a preamble and a length that nothing follows
            frame.resize(6);
            intact = false;
            break;
        default:
            break;
        }
        // Inside a frame at most exactly the gap; between frames a pause may exceed it.
        const bool split = (kind & 0x08) != 0;
        const std::size_t first = gWire.size();
        Append(frame, split ? TPacketReceiver::GapMs : 0, frame.size() / 2);
        if (first < gWire.size() && (kind & 0x40))
            gPauseBefore[first] += TPacketReceiver::GapMs + 1;
        if (intact && !frame.empty()) {
            TFrameAt at;
            at.Last = gWire.size() - 1;
            at.First = at.Last + 1 - (payload.size() + FrameOverhead);
            at.Sure = !HoldsPreamble(gWire.data() + at.First + 3, at.Last - at.First - 2);
            gIntact.push_back(at);
        }
    }

    // Byte by byte: each packet checked against the frames built, as it comes.
    TPacketReceiver& receiver = Receiver();
    receiver.Reset();
    gBytewise.clear();
    std::size_t next = 0; // the oldest intact frame not yet out or excused
    TPacket out;
    for (std::size_t i = 0; i < gWire.size(); ++i) {
        gNow += gPauseBefore[i];
        if (!receiver.Feed(gWire[i], out))
            continue;
        const std::size_t n = out.Data.size() + FrameOverhead;
        FuzzCheck(i + 1 >= n);
        const std::size_t first = i + 1 - n;
        FuzzCheck(Crc16Block(gWire.data() + first, n, Crc16Initial) == 0);
        if (next < gIntact.size() && gIntact[next].First == first && gIntact[next].Last == i) {
            ++next;
        } else {
            // A packet from damaged bytes: only the intact frames it overlaps may be lost.
            while (next < gIntact.size() && gIntact[next].First <= i) {
                FuzzCheck(gIntact[next].Last >= first || !gIntact[next].Sure);
                ++next;
            }
        }
        // Anything that ended before this packet and did not come out is lost.
        while (next < gIntact.size() && gIntact[next].Last < i) {
            FuzzCheck(!gIntact[next].Sure);
            ++next;
        }
        gBytewise.push_back({i, std::move(out)});
        out = TPacket{};
    }
    for (; next < gIntact.size(); ++next)
        FuzzCheck(!gIntact[next].Sure);

    // In reads that end at every pause (and elsewhere by the input's length), the same packets.
    receiver.Reset();
    gNow = 0;
    std::size_t got = 0;
    const std::size_t chunk = 1 + size % 4096;
    for (std::size_t at = 0; at < gWire.size();) {
        gNow += gPauseBefore[at];
        std::size_t end = at + 1;
        while (end < gWire.size() && end - at < chunk && gPauseBefore[end] == 0)
            ++end;
        receiver.Feed(gWire.data() + at, end - at, [&got](TPacket& p) {
            FuzzCheck(got < gBytewise.size());
            FuzzCheck(p.ID == gBytewise[got].Packet.ID && p.Data == gBytewise[got].Packet.Data);
            ++got;
            return true;
        });
        at = end;
    }
    FuzzCheck(got == gBytewise.size());
    return 0;
}
