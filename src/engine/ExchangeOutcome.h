// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Constants.h"
#include "protocol/Packet.h"

#include <cstdint>

// How one request/reply exchange ended. The status codes callers see are derived from it; a
// caller that must tell a silent gripper from a refusal reads this instead of timing the call.
enum class TOutcomeKind {
    Replied,    // a packet with the request's identifier came (it may be too short to use)
    NoReply,    // nothing with the request's identifier within the reply time-out
    NotSent,    // not connected, or the transport refused the frame (SendStatus says which)
    LinkClosed, // the transport closed or failed while the exchange waited
};

struct TExchangeOutcome {
    std::uint8_t ID = 0; // the request's identifier
    TOutcomeKind Kind = TOutcomeKind::NotSent;
    // NotSent: E_NOT_OPENED when not connected, else the transport's status for the write.
    TStat SendStatus = E_NOT_OPENED;
    // Replied: whether the reply carried a status word at all (2 bytes or more).
    bool HasStatus = false;
    std::uint16_t StatusWord = 0;
    TByteArray Data; // Replied: the bytes after the status word

    bool Usable() const { return Kind == TOutcomeKind::Replied && HasStatus; }
    TStat Status() const { return static_cast<TStat>(StatusWord & 0xFF); }
};
