// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class TMorv;

// Receives the final result of a command started with TMorv::StartCommand: the command set,
// the packet's identifier, its status word (the status code is the low byte) and the payload
// after the status word.
using TAsyncResultEvent = std::function<void(TMorv* sender, std::int32_t id, std::uint16_t status,
                                             const TByteArray& data)>;

// At most one handler per command identifier.
class TAsyncResultEventList {
public:
    // Replaces any handler registered for `id`.
    void Add(std::int32_t id, TAsyncResultEvent handler);
    void Remove(std::int32_t id);
    // A copy of the handler for `id`, empty when there is none. A copy, so that a handler may
    // replace or remove its own registration while it runs.
    TAsyncResultEvent Find(std::int32_t id) const;
    void Clear() { FEntries.clear(); }
    int Count() const { return static_cast<int>(FEntries.size()); }

private:
    std::vector<std::pair<std::int32_t, TAsyncResultEvent>> FEntries;
};
