// Inputs that would keep a reader going for ever, and decoders that would
// keep producing data: every call ends, as damaged.
#include "ArchiverHarness.h"
#include "core/CheckSink.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

std::string Vint(uint64_t n)
{
    std::string out;
    do {
        unsigned char b = n & 0x7F;
        n >>= 7;
        out += static_cast<char>(n ? b | 0x80 : b);
    } while (n);
    return out;
}

// A RAR 5 block: CRC-32, size, type, flags, data size when there is data.
std::string Rar5Block(int type, const std::string& fields, const std::string& data = {})
{
    std::string header = Vint(static_cast<uint64_t>(type)) + Vint(data.empty() ? 0 : 2);
    if (!data.empty())
        header += Vint(data.size());
    header += fields;
    header = Vint(header.size()) + header;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), static_cast<uInt>(header.size()));
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[static_cast<size_t>(i)] = static_cast<char>((crc >> (8 * i)) & 0xFF);
    return out + header + data;
}

// A solid RAR 5 archive whose only entry is a folder that declares data.
// libarchive 3.6's reader cannot skip that data in a solid archive and
// hands out the same header again at every request.
std::string Rar5SolidFolderWithData()
{
    std::string folder = Vint(1) /* folder */ + Vint(8) /* size */ + Vint(040755) + Vint(0) /* stored */
                         + Vint(1) /* Unix */ + Vint(1) + "d";
    return std::string("Rar!\x1a\x07\x01\x00", 8) + Rar5Block(1, Vint(4) /* solid */)
           + Rar5Block(2, folder, "xxxxxxxx") + Rar5Block(5, Vint(0));
}

} // namespace

TEST(Guards, AReaderThatComesBackToAHeaderEnds)
{
    TempDir work, out;
    WriteFile(work / "loop.rar", Rar5SolidFolderWithData());
    std::string log;
    EXPECT_EQ(Unrar().Run(ExtractLine(work / "loop.rar", out.path()), &log), ARCERR_DAMAGED) << log;
    EXPECT_EQ(Unrar().check((work / "loop.rar").c_str(), 1), 0);
    EXPECT_EQ(Unrar().check((work / "loop.rar").c_str(), 2), 0);
    EXPECT_EQ(TreeOf(out.path()), Tree{});
}

TEST(Guards, DecodingPastWhatTheArchiveCanHoldStops)
{
    arc::Member member;
    member.name = "endless";
    std::vector<char> chunk(1 << 20, 'z');

    // A decoder that never stops, on a 100-byte archive.
    arc::CheckSink endless(true);
    endless.LimitTo(100);
    ASSERT_EQ(endless.BeginMember(member), arc::Step::Write);
    uint64_t written = 0;
    while (endless.Write(chunk.data(), chunk.size())) {
        written += chunk.size();
        ASSERT_LT(written, uint64_t(1) << 32) << "never stopped";
    }
    EXPECT_TRUE(endless.Stopped());
    EXPECT_EQ(endless.Error(), ARCERR_DAMAGED);
    // What the best methods reach stays allowed: a thousand-fold ratio and
    // more, and holes of sparse files, which take no data at all.
    EXPECT_GE(written, uint64_t(100) * 1000);
    arc::CheckSink sparse(true);
    sparse.LimitTo(100);
    ASSERT_EQ(sparse.BeginMember(member), arc::Step::Write);
    EXPECT_TRUE(sparse.Hole(uint64_t(1) << 40));
    EXPECT_TRUE(sparse.Write(chunk.data(), 4096));
    EXPECT_EQ(sparse.Error(), 0);
}
