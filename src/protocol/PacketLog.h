// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <cstdint>
#include <vector>

// When a logged packet was sent or dispatched (milliseconds since the Unix epoch, wall clock)
// and, for the reply to a request, the round trip since that request (negative when none).
struct TLogStamp {
    std::int64_t WallMs = 0;
    std::int32_t RoundTripMs = -1;
};

// What the link saw besides intact packets. Bytes carries the bytes concerned (at most the
// first 256 of them), Count a number whose meaning the kind gives, ID a packet identifier.
enum class TLinkEventKind {
    FalsePreamble,  // a preamble whose header did not hold up; Bytes: the bytes given up
    BadChecksum,    // a whole frame whose checksum failed; Bytes: the frame
    SkippedBytes,   // bytes outside any frame while searching; Count: how many
    CutByPause,     // a frame cut by the pause rule; Bytes: what had arrived of it
    UpdatesDropped, // automatic updates a full queue dropped; Count: how many, ID: the first's
    ReplyMissing,   // no reply to request ID within the reply time-out
    LinkStale,      // no packet for Count ms while connected
    LinkLost,       // the link was given up after Count ms without a packet
    LinkRestored,   // the link is back after a loss
};

struct TLinkEvent {
    TLinkEventKind Kind = TLinkEventKind::SkippedBytes;
    std::vector<std::uint8_t> Bytes;
    std::uint32_t Count = 0;
    std::uint8_t ID = 0;
};

// Where the command set reports every request it sent and every packet it dispatched. The
// program binds the command log window; tests bind a recorder.
class IPacketLog {
public:
    virtual ~IPacketLog() = default;
    virtual void LogPacket(const TPacket& packet, bool received) = 0;
    // The command set calls this one; a log that keeps no times takes the plain entry.
    virtual void LogStampedPacket(const TPacket& packet, bool received, const TLogStamp& stamp) {
        (void)stamp;
        LogPacket(packet, received);
    }
    // A log that shows only packets ignores these.
    virtual void LogLinkEvent(const TLinkEvent& event, const TLogStamp& stamp) {
        (void)event;
        (void)stamp;
    }
};
