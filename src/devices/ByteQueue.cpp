// SPDX-License-Identifier: Apache-2.0
#include "devices/ByteQueue.h"

#include <algorithm>

TByteQueue::TByteQueue(std::int32_t size) {
    Allocate(size);
}

TByteQueue::~TByteQueue() {
    Clear();
}

std::int32_t TByteQueue::Allocate(std::int32_t size) {
    if (FStorage) {
        Clear();
        FStorage.reset();
    }
    FSize = size > 0 ? size : 0;
    if (FSize > 0)
        FStorage = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(FSize));
    FWriteIndex = 0;
    FReadIndex = 0;
    return 0;
}

std::int32_t TByteQueue::Count() const {
    if (!FStorage)
        return 0;
    std::int32_t d =
        FWriteIndex.load(std::memory_order_acquire) - FReadIndex.load(std::memory_order_acquire);
    return d < 0 ? d + FSize : d;
}

void TByteQueue::Clear() {
    FWriteIndex = 0;
    FReadIndex = 0;
}

bool TByteQueue::IsFull() const {
    if (!FStorage)
        return true;
    const std::int32_t w = FWriteIndex.load(std::memory_order_acquire);
    const std::int32_t r = FReadIndex.load(std::memory_order_acquire);
    return w + 1 == r || (w == FSize - 1 && r == 0);
}

bool TByteQueue::Put(std::uint8_t b) {
    if (IsFull())
        return false;
    const std::int32_t w = FWriteIndex.load(std::memory_order_relaxed);
    FStorage[static_cast<std::size_t>(w)] = b;
    FWriteIndex.store(w + 1 == FSize ? 0 : w + 1, std::memory_order_release);
    return true;
}

std::int32_t TByteQueue::Read(std::uint8_t* dest, std::int32_t n) {
    if (n <= 0)
        return 0;
    const std::int32_t m = std::min(Count(), n);
    std::int32_t r = FReadIndex.load(std::memory_order_relaxed);
    for (std::int32_t i = 0; i < m; ++i) {
        dest[i] = FStorage[static_cast<std::size_t>(r)];
        r = r + 1 == FSize ? 0 : r + 1;
    }
    FReadIndex.store(r, std::memory_order_release);
    return m;
}
