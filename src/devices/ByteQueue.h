// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

// Lock-free byte ring for exactly one writer thread and one reader thread: only Put moves
// WriteIndex and only Read moves ReadIndex. One slot always stays free.
class TByteQueue {
public:
    explicit TByteQueue(std::int32_t size);
    ~TByteQueue();
    TByteQueue(const TByteQueue&) = delete;
    TByteQueue& operator=(const TByteQueue&) = delete;

    std::int32_t Allocate(std::int32_t size);
    std::int32_t Count() const;
    void Clear();
    bool IsFull() const;
    bool Put(std::uint8_t b);
    std::int32_t Read(std::uint8_t* dest, std::int32_t n);

    std::int32_t Size() const { return FSize; }

private:
    // Indices are atomics so the reader and the writer see each other's progress.
    std::atomic<std::int32_t> FWriteIndex{0};
    std::atomic<std::int32_t> FReadIndex{0};
    std::int32_t FSize = 0;
    std::unique_ptr<std::uint8_t[]> FStorage;
};
