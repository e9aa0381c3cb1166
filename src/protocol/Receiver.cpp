#include "protocol/Receiver.h"

#include "protocol/crc.h"

TPacketReceiver::TPacketReceiver(TTickSource tick) : FTick(std::move(tick)) {
    Reset();
}

void TPacketReceiver::Reset() {
    FInPacket = false;
    FPosition = 0;
    FID = 0;
    FExpected = 0;
    FCrc = Crc16Initial;
    FBuffer.fill(0);
}

bool TPacketReceiver::Feed(std::uint8_t b, TPacket& out) {
    const std::uint32_t now = FTick ? FTick() : GetTickCount();
    if (FPosition > 0 && static_cast<std::uint32_t>(now - FLastTick) > GapMs) {
        FPosition = 0;
        FInPacket = false;
    }
    FLastTick = now;

    if (!FInPacket) {
        FPosition = (b == PreambleByte) ? FPosition + 1 : 0;
        if (FPosition == 3) {
            FInPacket = true;
            FPosition = 0;
            FID = 0;
            FExpected = 0;
            FCrc = Crc16Preamble;
        }
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
        FCrc = Crc16(FBuffer.data(), static_cast<std::uint16_t>(FExpected), FCrc);
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
