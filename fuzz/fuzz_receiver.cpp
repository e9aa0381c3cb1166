// The receive state machine fed arbitrary bytes. The first input byte picks the mode: raw bytes
// as they come, or frames built from the input with correct checksums (some damaged on purpose),
// so the search gets past the preamble and into long payloads.
#include "FuzzSupport.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"
#include "protocol/crc.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <deque>

namespace {

std::uint32_t gNow = 0;

// Frames the receiver must give back are remembered in order; every packet it gives must be
// the oldest one still expected (earlier ones may be lost to damage or gaps, never reordered
// or altered).
struct TExpect {
    std::deque<TPacket> Frames;
    void Got(const TPacket& p) {
        FuzzCheck(p.Length >= 0 && p.Length <= MaxPayloadLength);
        FuzzCheck(p.Data.size() == static_cast<std::size_t>(p.Length));
        FuzzCheck(p.ID >= 0 && p.ID <= 255);
        // A packet with a valid checksum may also appear out of random bytes; only frames we
        // built are checked against what went in.
        while (!Frames.empty()) {
            const TPacket& f = Frames.front();
            if (f.ID == p.ID && f.Data == p.Data) {
                Frames.pop_front();
                return;
            }
            Frames.pop_front();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    gNow = 0;
    TPacketReceiver receiver([] { return gNow; });
    TPacket out;
    const std::uint8_t mode = data[0];
    if ((mode & 1) == 0) {
        // Raw: every byte as it comes, with the tick stepping by the low bits of the mode.
        const std::uint32_t step = (mode >> 1) & 0x7F;
        for (std::size_t i = 1; i < size; ++i) {
            gNow += step;
            if (receiver.Feed(data[i], out)) {
                FuzzCheck(out.Data.size() == static_cast<std::size_t>(out.Length));
                // Whatever came out must frame back to bytes that end at the residue 0.
                const TByteArray frame = MakeFrame(out);
                FuzzCheck(frame.size() == out.Data.size() + FrameOverhead);
            }
        }
        return 0;
    }

    FuzzedDataProvider fdp(data + 1, size - 1);
    TExpect expect;
    std::size_t intact = 0;
    std::size_t received = 0;
    while (fdp.remaining_bytes() > 0) {
        const std::uint8_t kind = fdp.ConsumeIntegral<std::uint8_t>();
        const auto id = fdp.ConsumeIntegral<std::uint8_t>();
        TByteArray payload = fdp.ConsumeBytes<std::uint8_t>(
            fdp.ConsumeIntegralInRange<std::size_t>(0, (kind & 0x80) ? MaxPayloadLength : 64));
        TByteArray frame = MakeFrame(id, payload);
        FuzzCheck(frame.size() == payload.size() + FrameOverhead);
        const std::uint16_t header = Crc16(frame.data(), 6, Crc16Initial);
        FuzzCheck(Crc16(frame.data() + 6, static_cast<std::uint16_t>(payload.size()), header) ==
                  (frame[frame.size() - 2] | (frame[frame.size() - 1] << 8)));
        bool damaged = false;
        switch (kind & 0x07) {
        case 1: // one bit flipped after the preamble
            if (frame.size() > 3) {
                const std::size_t at =
                    3 + fdp.ConsumeIntegral<std::uint16_t>() % (frame.size() - 3);
                frame[at] ^= static_cast<std::uint8_t>(1u << (kind >> 4 & 7));
                damaged = true;
            }
            break;
        case 2: // cut short, the rest dropped after a gap
            frame.resize(fdp.ConsumeIntegralInRange<std::size_t>(0, frame.size()));
            // A bare preamble takes the next byte as identifier however late it comes.
            if (frame.size() == 3)
                frame.push_back(0);
            damaged = true;
            break;
        case 3: // stray bytes in front
            frame.insert(frame.begin(), fdp.ConsumeIntegralInRange<std::size_t>(1, 4),
                         fdp.ConsumeIntegral<std::uint8_t>());
            damaged = true;
            break;
        default:
            break;
        }
        if (!damaged)
            expect.Frames.push_back({id, static_cast<std::int32_t>(payload.size()), payload});
        // Bytes of one frame arrive together; a pause after it may or may not exceed the gap.
        const bool split = (kind & 0x08) != 0;
        for (std::size_t i = 0; i < frame.size(); ++i) {
            if (split && i == frame.size() / 2)
                gNow += TPacketReceiver::GapMs; // exactly the gap: still one frame
            if (receiver.Feed(frame[i], out)) {
                ++received;
                expect.Got(out);
            }
        }
        gNow += (kind & 0x40) ? TPacketReceiver::GapMs + 1 : 0;
        if (!damaged)
            ++intact;
        if (damaged && (kind & 0x40) == 0) {
            // Without a gap a damaged frame may spoil the next; resynchronise as a pause would.
            gNow += TPacketReceiver::GapMs + 1;
        }
    }
    // Every intact frame, each after a gap that ended any damaged one, arrives: nothing is lost
    // that the wire delivered whole.
    FuzzCheck(expect.Frames.empty());
    FuzzCheck(received >= intact);
    return 0;
}
