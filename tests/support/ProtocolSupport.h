// SPDX-License-Identifier: Apache-2.0
#pragma once

// What every test may use, whatever layer it tests: the protocol layer only.

#include "protocol/Clock.h"
#include "protocol/Tick.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// A tick the test moves by hand. Only what is given its Source() or Clock() reads it.
class FakeTick {
public:
    explicit FakeTick(std::uint32_t start = 1000) : FNow(start) {}
    FakeTick(const FakeTick&) = delete;
    FakeTick& operator=(const FakeTick&) = delete;

    std::uint32_t Now() const { return FNow; }
    void Set(std::uint32_t now) { FNow = now; }
    void Advance(std::uint32_t ms) { FNow += ms; }

    TTickSource Source() const {
        return [this] { return FNow; };
    }
    // This tick with the system's wall clock, for an engine instance.
    TClock Clock() const { return {Source(), {}}; }

private:
    std::uint32_t FNow;
};

// "AA AA 01" style text from bytes, for readable comparisons.
QString HexString(const std::uint8_t* data, std::size_t n);
template <typename C> QString HexString(const C& bytes) {
    return HexString(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                     static_cast<std::size_t>(bytes.size()));
}
// Bytes from "AA AA 01" style text.
std::vector<std::uint8_t> HexBytes(const char* text);
