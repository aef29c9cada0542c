// The BGA member decoding on its own (gzip or raw deflate, bzip2, stored,
// and the choice between them): the input is one member's data, wrapped
// into a well-formed archive (one header with a correct checksum) and read
// with the BGA reader into a full check, so every run reaches the decoding
// instead of stopping at the header checksum.
//
// Input: one byte of switches (bit 0: bzip2, else gzip; bits 1-2: arc type
// 0, 1 or 2; bit 3: a name with an archive extension), four bytes of
// original size (little-endian), then the packed data.
#include "core/BgaReader.h"
#include "core/CheckSink.h"
#include "fuzz/FuzzSupport.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    static const fuzz::Scratch scratch("bga-decoder");
    const bool bzip2 = data[0] & 1;
    const unsigned arcType = (data[0] >> 1) & 3;
    const std::string name = (data[0] & 8) ? "inner.lzh" : "member.txt";
    const std::uint32_t original = data[1] | (data[2] << 8) | (data[3] << 16) | (static_cast<std::uint32_t>(data[4]) << 24);
    const std::string_view packed = fuzz::AsText(data + 5, size - 5);

    std::string h = bzip2 ? std::string("BZ2\0", 4) : std::string("GZIP");
    fuzz::Put32(h, static_cast<std::uint32_t>(packed.size()));
    fuzz::Put32(h, original);
    fuzz::Put16(h, (45 << 9) | (6 << 5) | 15);
    fuzz::Put16(h, (12 << 11) | (30 << 5));
    h += static_cast<char>(0x20);
    h += '\0';
    fuzz::Put16(h, arcType > 2 ? 1 : arcType);
    fuzz::Put16(h, 0);
    fuzz::Put16(h, static_cast<unsigned>(name.size()));
    std::int32_t sum = 0;
    for (char c : h + name)
        sum += static_cast<signed char>(c);
    std::string archive;
    fuzz::Put32(archive, static_cast<std::uint32_t>(sum));
    archive += h + name;
    archive += packed;

    const std::string path = scratch / "a.gza";
    fuzz::WriteFile(path, archive);
    arc::CheckSink check(true);
    check.LimitTo(archive.size());
    arc::ReadBga(path, check);
    return 0;
}
