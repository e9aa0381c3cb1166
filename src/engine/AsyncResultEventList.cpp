// SPDX-License-Identifier: Apache-2.0
#include "engine/AsyncResultEventList.h"

#include <algorithm>

void TAsyncResultEventList::Add(std::int32_t id, TAsyncResultEvent handler) {
    Remove(id);
    FEntries.emplace_back(id, std::move(handler));
}

void TAsyncResultEventList::Remove(std::int32_t id) {
    const auto it = std::find_if(FEntries.begin(), FEntries.end(),
                                 [id](const auto& entry) { return entry.first == id; });
    if (it != FEntries.end())
        FEntries.erase(it);
}

TAsyncResultEvent TAsyncResultEventList::Find(std::int32_t id) const {
    for (const auto& entry : FEntries) {
        if (entry.first == id)
            return entry.second;
    }
    return {};
}
