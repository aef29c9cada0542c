// The CRC-16 of LHA (and ARC): polynomial 0xA001 (0x8005 reflected),
// starting from 0, table-driven.
#pragma once
#include <cstddef>
#include <cstdint>

namespace arc {
namespace crc16 {

struct CrcTable {
    uint16_t t[256];
    constexpr CrcTable() : t()
    {
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
            t[i] = c;
        }
    }
};
inline constexpr CrcTable kCrc;

inline uint16_t Crc16(uint16_t crc, const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        crc = static_cast<uint16_t>(kCrc.t[(crc ^ p[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

} // namespace crc16

using crc16::Crc16;

} // namespace arc
