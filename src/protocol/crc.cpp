#include "protocol/crc.h"

static_assert(Crc16Table[1] == 0x1021 && Crc16Table[2] == 0x2042 && Crc16Table[128] == 0x9188 &&
              Crc16Table[255] == 0x1EF0);

std::uint16_t Crc16(const std::uint8_t* data, std::uint16_t count, std::uint16_t initial) {
    std::uint16_t crc = initial;
    for (std::uint16_t i = 0; i < count; ++i)
        crc = Crc16Byte(data[i], crc);
    return crc;
}
