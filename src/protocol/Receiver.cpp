#include "protocol/Receiver.h"

#include "protocol/crc.h"

#include <algorithm>
#include <cstring>

TPacketReceiver::TPacketReceiver(TTickSource tick) : FTick(std::move(tick)) {
    Reset();
}

void TPacketReceiver::Reset() {
    FInPacket = false;
    FPosition = 0;
    FID = 0;
    FExpected = 0;
    FFolded = 0;
    FCrc = Crc16Initial;
    FBuffer.fill(0);
}

void TPacketReceiver::StartPacket() {
    FInPacket = true;
    FPosition = 0;
    FID = 0;
    FExpected = 0;
    FFolded = 0;
    FCrc = Crc16Preamble;
}

bool TPacketReceiver::Feed(std::uint8_t b, TPacket& out) {
    const std::uint32_t now = Now();
    if (FPosition > 0 && static_cast<std::uint32_t>(now - FLastTick) > GapMs) {
        FPosition = 0;
        FInPacket = false;
    }
    FLastTick = now;

    if (!FInPacket) {
        FPosition = (b == PreambleByte) ? FPosition + 1 : 0;
        if (FPosition == 3)
            StartPacket();
        return false;
    }

    bool completed = false;
    const std::uint32_t p = static_cast<std::uint32_t>(FPosition);
    if (p == 0) {
        FID = b;
        FCrc = Crc16Byte(b, FCrc);
    } else if (p == 1) {
        FExpected = b;
        FCrc = Crc16Byte(b, FCrc);
    } else if (p == 2) {
        FExpected |= static_cast<std::uint32_t>(b) << 8;
        FCrc = Crc16Byte(b, FCrc);
    } else if (p < FExpected + 3) {
        FBuffer[p - 3] = b;
    } else if (p == FExpected + 3) {
        // The payload is folded in one pass once it is complete.
        FCrc = Crc16Block(FBuffer.data() + FFolded, FExpected - FFolded, FCrc);
        FFolded = FExpected;
        FCrc = Crc16Byte(b, FCrc);
    } else {
        FCrc = Crc16Byte(b, FCrc);
        if (FCrc == 0) {
            out.ID = FID;
            out.Length = static_cast<std::int32_t>(FExpected);
            out.Data.assign(FBuffer.begin(), FBuffer.begin() + FExpected);
            completed = true;
        }
        FInPacket = false;
        FPosition = 0;
    }
    if (FInPacket)
        ++FPosition;
    return completed;
}

std::size_t TPacketReceiver::Feed(const std::uint8_t* data, std::size_t count,
                                  const TPacketSink& sink) {
    if (count == 0)
        return 0;
    const std::uint32_t now = Now();
    if (FPosition > 0 && static_cast<std::uint32_t>(now - FLastTick) > GapMs) {
        FPosition = 0;
        FInPacket = false;
    }
    FLastTick = now;

    std::size_t i = 0;
    while (i < count) {
        if (!FInPacket) {
            if (FPosition == 0) {
                // Nothing gathered: skip straight to the next preamble byte.
                const void* hit = std::memchr(data + i, PreambleByte, count - i);
                if (!hit)
                    return count;
                i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
                if (count - i >= 3 && data[i + 1] == PreambleByte && data[i + 2] == PreambleByte) {
                    i += 3;
                    StartPacket();
                    continue;
                }
            }
            const std::uint8_t b = data[i++];
            FPosition = (b == PreambleByte) ? FPosition + 1 : 0;
            if (FPosition == 3)
                StartPacket();
            continue;
        }

        const std::uint32_t p = static_cast<std::uint32_t>(FPosition);
        if (p == 0 && count - i >= 3) {
            FID = data[i];
            FExpected = data[i + 1] | (static_cast<std::uint32_t>(data[i + 2]) << 8);
            FCrc = Crc16Byte(data[i + 2], Crc16Byte(data[i + 1], Crc16Byte(data[i], FCrc)));
            FPosition = 3;
            i += 3;
        } else if (p < 3) {
            const std::uint8_t b = data[i++];
            if (p == 0)
                FID = b;
            else if (p == 1)
                FExpected = b;
            else
                FExpected |= static_cast<std::uint32_t>(b) << 8;
            FCrc = Crc16Byte(b, FCrc);
            ++FPosition;
        } else if (p < FExpected + 3) {
            // Bytes stored one at a time before this chunk are folded first, keeping the order.
            FCrc = Crc16Block(FBuffer.data() + FFolded, p - 3 - FFolded, FCrc);
            const std::uint32_t n =
                static_cast<std::uint32_t>(std::min<std::size_t>(FExpected + 3 - p, count - i));
            FCrc = Crc16Copy(FBuffer.data() + (p - 3), data + i, n, FCrc);
            FFolded = p - 3 + n;
            FPosition += static_cast<std::int32_t>(n);
            i += n;
        } else {
            if (p == FExpected + 3) {
                FCrc = Crc16Block(FBuffer.data() + FFolded, FExpected - FFolded, FCrc);
                FFolded = FExpected;
                FCrc = Crc16Byte(data[i++], FCrc);
                ++FPosition;
                if (i == count)
                    break;
            }
            FCrc = Crc16Byte(data[i++], FCrc);
            FInPacket = false;
            FPosition = 0;
            if (FCrc == 0) {
                TPacket packet;
                packet.ID = FID;
                packet.Length = static_cast<std::int32_t>(FExpected);
                packet.Data.assign(FBuffer.begin(), FBuffer.begin() + FExpected);
                if (sink && !sink(packet))
                    return i;
            }
        }
    }
    return count;
}
