#pragma once

#include "protocol/Packet.h"

// Where the command set reports every request it sent and every packet it dispatched. The
// program binds the command log window; tests bind a recorder.
class IPacketLog {
public:
    virtual ~IPacketLog() = default;
    virtual void LogPacket(const TPacket& packet, bool received) = 0;
};
