// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <cstddef>

// Writes the wire frame of `packet` into `out` and returns its size (Length + 8), or -1 without
// writing anything when Length is outside 0..65535, Data holds fewer than Length bytes, or `out`
// is too small.
int BuildFrame(const TPacket& packet, std::uint8_t* out, std::size_t capacity);

// The same into a new array; empty when the packet cannot be framed.
TByteArray MakeFrame(const TPacket& packet);
TByteArray MakeFrame(std::uint8_t id, const TByteArray& payload);
