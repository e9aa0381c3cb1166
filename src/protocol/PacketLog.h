#pragma once

#include "protocol/Packet.h"

#include <cstdint>

// When a logged packet was sent or dispatched (milliseconds since the Unix epoch, wall clock)
// and, for the reply to a request, the round trip since that request (negative when none).
struct TLogStamp {
    std::int64_t WallMs = 0;
    std::int32_t RoundTripMs = -1;
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
};
