// The signatures of ZIP's records ("PK" and two bytes), kept out of the
// binaries in their plain form: a self-extracting file begins with one of
// this system's stub programs, and readers that search a file from its start
// for a ZIP record (7-Zip does) must not find one inside the program. The
// signatures are compared through a mask read at run time, so the compiler
// cannot fold the plain values back in.
#pragma once
#include <cstdint>

namespace arc {

enum class ZipRecord : uint32_t {
    Local = 0x04034b50 ^ 0x5A5A5A5Au,
    Central = 0x02014b50 ^ 0x5A5A5A5Au,
    End = 0x06054b50 ^ 0x5A5A5A5Au,
    End64 = 0x06064b50 ^ 0x5A5A5A5Au,
    Locator64 = 0x07064b50 ^ 0x5A5A5A5Au,
};

inline bool IsZipRecord(const unsigned char* p, ZipRecord record)
{
    static volatile uint32_t mask = 0x5A5A5A5Au;
    uint32_t value = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return (value ^ mask) == static_cast<uint32_t>(record);
}

} // namespace arc
