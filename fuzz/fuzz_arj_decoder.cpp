// The ARJ decoders on their own (methods 0 to 4): the input is one member's
// data, wrapped into a well-formed archive (main header, one file header
// with correct header check values, end marker) and read with the ARJ
// reader into a full check, so every run reaches the decoder instead of
// stopping at a header check value.
//
// Input: one byte whose value % 5 is the method, three bytes of original
// size (little-endian), then the packed data. The member's CRC-32 is 0, so
// the decoded data usually fails its check; it is decoded all the same.
#include "core/ArjReader.h"
#include "core/CheckSink.h"
#include "fuzz/FuzzSupport.h"

#include <zlib.h>

namespace {

std::string header(std::uint8_t type, std::uint8_t method, std::uint32_t packed, std::uint32_t original)
{
    std::string b;
    b += static_cast<char>(30); // first header size
    b += static_cast<char>(11); // archiver version
    b += static_cast<char>(1);  // needed to extract
    b += static_cast<char>(0);  // MS-DOS
    b += static_cast<char>(0);  // flags
    b += static_cast<char>(method);
    b += static_cast<char>(type);
    b += static_cast<char>(0);
    fuzz::Put32(b, (static_cast<std::uint32_t>((45 << 9) | (6 << 5) | 15) << 16) | (12 << 11));
    fuzz::Put32(b, packed);
    fuzz::Put32(b, original);
    fuzz::Put32(b, 0); // CRC-32 of the data
    fuzz::Put16(b, 0); // entry name position
    fuzz::Put16(b, 0x20);
    fuzz::Put16(b, 0);
    b += type == 2 ? "fuzz.arj" : "member.bin";
    b += '\0';
    b += '\0'; // comment
    std::string h = "\x60\xEA";
    fuzz::Put16(h, static_cast<unsigned>(b.size()));
    h += b;
    fuzz::Put32(h, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(b.data()), static_cast<uInt>(b.size()))));
    fuzz::Put16(h, 0); // no extended header
    return h;
}

} // namespace

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    static const fuzz::Scratch scratch("arj-decoder");
    const std::uint8_t method = data[0] % 5;
    const std::uint32_t original = data[1] | (data[2] << 8) | (static_cast<std::uint32_t>(data[3]) << 16);
    const std::string_view packed = fuzz::AsText(data + 4, size - 4);
    std::string archive = header(2, 0, 0, 0);
    archive += header(0, method, static_cast<std::uint32_t>(packed.size()), original);
    archive += packed;
    archive += std::string("\x60\xEA\0\0", 4);
    const std::string path = scratch / "a.arj";
    fuzz::WriteFile(path, archive);
    arc::CheckSink check(true);
    check.LimitTo(archive.size());
    arc::ReadArj(path, check);
    return 0;
}
