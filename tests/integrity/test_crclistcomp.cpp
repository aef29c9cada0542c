// TCRCList against independent references: a bit-at-a-time CRC written
// here, zlib's crc32, and reports spelled out byte for byte. Files are real
// files in a fresh temporary folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Servers.h"

#include "integrity/CrcListComp.h"

namespace fs = std::filesystem;

namespace {

std::uint16_t BitwiseCRC16(const std::string& data)
{
    std::uint16_t crc = 0xFFFF;
    for (unsigned char b : data) {
        crc ^= b;
        for (int k = 0; k < 8; k++)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

std::uint32_t ZlibCRC32(const std::string& data)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/crclist-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::string Write(const std::string& relative, const std::string& content) const
    {
        const std::string full = path_ + "/" + relative;
        fs::create_directories(fs::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }

private:
    std::string path_;
};

std::vector<std::string> Lines(const TStringList& list)
{
    return {list.begin(), list.end()};
}

} // namespace

TEST(CrcSteps, TablesAndFastPathAgreeWithReferences)
{
    EXPECT_EQ(CRC16Table[1], 0x1189);
    EXPECT_EQ(CRC16Table[128], 0x8408);
    EXPECT_EQ(CRC32Table[1], 0x77073096u);
    EXPECT_EQ(CRC32Table[255], 0x2D02EF8Du);
    const z_crc_t* zlibTable = get_crc_table();
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(CRC32Table[i], zlibTable[i]) << i;
        const std::string byte(1, static_cast<char>(i));
        // Table entry i is the register 0 run over byte i.
        ASSERT_EQ(CRC16Table[i], UpdateCRC16Bytewise(0, byte.data(), 1)) << i;
        ASSERT_EQ(BitwiseCRC16(byte), UpdateCRC16Bytewise(0xFFFF, byte.data(), 1)) << i;
    }

    // Every start offset (alignment) and every length up to a few blocks of
    // the sixteen-byte loop, from varying register values.
    const std::string data = testsupport::RandomBytes(4200, 1);
    std::mt19937 gen(2);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 160; n++)
        lengths.push_back(n);
    for (std::size_t n : {255u, 256u, 257u, 1023u, 1024u, 4095u, 4096u, 4097u})
        lengths.push_back(n);
    for (std::size_t offset = 0; offset < 16; offset++) {
        for (std::size_t n : lengths) {
            const char* p = data.data() + offset;
            const auto c16 = static_cast<std::uint16_t>(gen());
            const auto c32 = static_cast<std::uint32_t>(gen());
            ASSERT_EQ(UpdateCRC16(c16, p, n), UpdateCRC16Bytewise(c16, p, n)) << offset << "+" << n;
            ASSERT_EQ(UpdateCRC32(c32, p, n), UpdateCRC32Bytewise(c32, p, n)) << offset << "+" << n;
            const std::string piece(p, n);
            ASSERT_EQ(static_cast<std::uint32_t>(~UpdateCRC32(0xFFFFFFFFu, p, n)), ZlibCRC32(piece));
            ASSERT_EQ(UpdateCRC16(0xFFFF, p, n), BitwiseCRC16(piece));
        }
    }
}

TEST(CalcCRC, CheckValuesTopBitAndKinds)
{
    TempDir dir;
    struct Case {
        std::string content, text16, text32;
    };
    const Case cases[] = {{"123456789", "6F91", "CBF43926"},
                          {"abc", "61DA", "352441C2"},
                          {"", "FFFF", "00000000"},
                          {"x", "F048", "8CDC1683"}}; // F048: top bit set, still four digits
    for (const Case& c : cases) {
        TCRCList list;
        list.FileName = dir.Write("f.bin", c.content);
        list.CRC32 = 0x1234;
        ASSERT_TRUE(list.CalcCRC());
        EXPECT_EQ(list.CRCText, c.text16);
        EXPECT_EQ(list.CRC16, std::stoul(c.text16, nullptr, 16));
        EXPECT_EQ(list.CRC32, 0x1234u) << "a CRC-16 run leaves the CRC-32 value alone";
        EXPECT_EQ(list.FileSize, static_cast<std::int64_t>(c.content.size()));
        list.CRCType = c32;
        ASSERT_TRUE(list.CalcCRC());
        EXPECT_EQ(list.CRCText, c.text32);
        EXPECT_EQ(list.CRC32, std::stoul(c.text32, nullptr, 16));
        EXPECT_EQ(list.CRC16, std::stoul(c.text16, nullptr, 16));
    }
}

TEST(CalcCRC, SizesAroundTheReadBlock)
{
    TempDir dir;
    const std::string data = testsupport::RandomBytes(131073, 3);
    for (std::size_t n : {65535u, 65536u, 65537u, 131071u, 131072u, 131073u}) {
        const std::string piece = data.substr(0, n);
        const std::string path = dir.Write("block.bin", piece);
        TCRCList list;
        std::uint16_t v16 = 0;
        std::uint32_t v32 = 0;
        ASSERT_TRUE(list.CalcCRC16(v16, path));
        EXPECT_EQ(v16, BitwiseCRC16(piece)) << n;
        ASSERT_TRUE(list.CalcCRC32(v32, path));
        EXPECT_EQ(v32, ZlibCRC32(piece)) << n;
        EXPECT_EQ(list.FileSize, static_cast<std::int64_t>(n));
    }
}

TEST(CalcCRC, WhatCannotBeReadFailsQuietly)
{
    TempDir dir;
    const std::string fifo = dir.path() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Missing, a folder, a pipe without writer (must not hang), and a file
    // whose read fails (/proc/self/mem at offset 0 gives EIO): no CRC of
    // whatever was read, no exception.
    for (const std::string& path : {dir.path() + "/missing", dir.path(), fifo, std::string("/proc/self/mem")}) {
        TCRCList list;
        list.FileName = path;
        list.CRC16 = 0x5555;
        list.CRCText = "5555";
        EXPECT_FALSE(list.CalcCRC()) << path;
        EXPECT_EQ(list.CRC16, 0) << path;
        EXPECT_EQ(list.CRCText, "") << path;
        std::uint32_t v32 = 7;
        EXPECT_FALSE(list.CalcCRC32(v32, path)) << path;
        EXPECT_EQ(v32, 0u) << path;
    }
}

TEST(Execute, WorkedExampleByteForByte)
{
    TempDir dir;
    TCRCList list;
    list.Files.Add(dir.Write("abc.txt", "abc"));
    list.Files.Add(dir.Write("digits.txt", "123456789"));
    list.Execute();
    EXPECT_EQ(Lines(list.Report), (std::vector<std::string>{"Name        CRC   Bytes",
                                                           "----------  ----  -",
                                                           "abc.txt     61DA  3",
                                                           "digits.txt  6F91  9",
                                                           "-------------------",
                                                           "Total  2 Files  12 Bytes"}));
    EXPECT_EQ(list.CRCText, "6F91");

    list.CRCType = c32;
    list.Execute();
    EXPECT_EQ(Lines(list.Report), (std::vector<std::string>{"Name        CRC32     Bytes",
                                                           "----------  --------  -",
                                                           "abc.txt     352441C2  3",
                                                           "digits.txt  CBF43926  9",
                                                           "-----------------------",
                                                           "Total  2 Files  12 Bytes"}));
    EXPECT_EQ(list.CRCText, "CBF43926");
}

TEST(Execute, FoldersDuplicatesMissingFilesAndRowOrder)
{
    TempDir dir;
    const std::string one = dir.path() + "/one";
    const std::string two = dir.path() + "/two/";
    dir.Write("one/b.txt", "abc");
    dir.Write("one/.hidden", "");
    dir.Write("one/sub/inner.txt", "not listed");
    dir.Write("two/C.txt", "123456789");
    const std::string plain = dir.Write("A.txt", "x");

    TCRCList list;
    list.Files.Add(one);
    list.Files.Add(plain);
    list.Files.Add(dir.path() + "/missing.txt");
    list.Files.Add(two);
    list.Files.Add(plain);
    list.Execute();

    EXPECT_EQ(Lines(list.Folders), (std::vector<std::string>{two, one}));
    EXPECT_EQ(Lines(list.Files), (std::vector<std::string>{plain, dir.path() + "/missing.txt", plain,
                                                          two + "C.txt", one + "/.hidden", one + "/b.txt"}));
    // Case-insensitive order; the duplicate counted twice, the missing file
    // and the sub-folder not at all.
    EXPECT_EQ(Lines(list.Report), (std::vector<std::string>{"Name     CRC   Bytes",
                                                           "-------  ----  -",
                                                           ".hidden  FFFF  0",
                                                           "A.txt    F048  1",
                                                           "A.txt    F048  1",
                                                           "b.txt    61DA  3",
                                                           "C.txt    6F91  9",
                                                           "----------------",
                                                           "Total  5 Files  14 Bytes"}));
    EXPECT_EQ(list.CRCText, "61DA");

    // Run again: the expanded list is checksummed as plain files; a missing
    // last entry leaves an empty CRC text.
    list.Files.Add(dir.path() + "/gone");
    list.Execute();
    EXPECT_TRUE(list.Folders.Empty());
    EXPECT_EQ(list.Report[list.Report.Count() - 1], "Total  5 Files  14 Bytes");
    EXPECT_EQ(list.CRCText, "");
    EXPECT_EQ(list.CRC16, 0);
}

TEST(Execute, EmptyListWideNamesAndGroupedSizes)
{
    TCRCList list;
    list.CRCText = "ABCD";
    list.Execute();
    EXPECT_EQ(Lines(list.Report),
              (std::vector<std::string>{"Name  CRC   Bytes", "  ----  ", "--------", "Total  0 Files  0 Bytes"}));
    EXPECT_EQ(list.CRCText, "ABCD");

    // "日本語.txt" is 10 bytes in CP932 (13 in UTF-8); columns count CP932.
    TempDir dir;
    list.Files.Add(dir.Write("日本語.txt", std::string(1048576, 'z')));
    list.Files.Add(dir.Write("abc.txt", "abc"));
    list.Execute();
    const std::uint16_t big = BitwiseCRC16(std::string(1048576, 'z'));
    char bigText[8];
    std::snprintf(bigText, sizeof bigText, "%04X", big);
    EXPECT_EQ(Lines(list.Report), (std::vector<std::string>{"Name        CRC   Bytes",
                                                           "----------  ----  ---------",
                                                           "abc.txt     61DA          3",
                                                           std::string("日本語.txt  ") + bigText + "  1,048,576",
                                                           "---------------------------",
                                                           "Total  2 Files  1,048,579 Bytes"}));
}

TEST(Execute, SizesBeyondTwoGibibytes)
{
    TempDir dir;
    const std::string path = dir.path() + "/sparse.bin";
    const std::int64_t size = (std::int64_t{1} << 31) + 1;
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    TCRCList list;
    list.CRCType = c32;
    list.Files.Add(path);
    list.Execute();
    EXPECT_EQ(list.FileSize, size);
    const std::vector<char> zeros(1 << 20, 0);
    uLong expected = crc32(0, nullptr, 0);
    for (std::int64_t done = 0; done < size; done += static_cast<std::int64_t>(zeros.size()))
        expected = crc32(expected, reinterpret_cast<const Bytef*>(zeros.data()),
                         static_cast<uInt>(std::min<std::int64_t>(size - done, zeros.size())));
    EXPECT_EQ(list.CRC32, static_cast<std::uint32_t>(expected));
    ASSERT_EQ(list.Report.Count(), 5);
    EXPECT_EQ(list.Report[2], "sparse.bin  " + list.CRCText + "  2,147,483,649");
    EXPECT_EQ(list.Report[4], "Total  1 Files  2,147,483,649 Bytes");
}

TEST(Helpers, RepeatStrAndAddBackslash)
{
    EXPECT_EQ(RepeatStr("ab", 3), "ababab");
    EXPECT_EQ(RepeatStr("ab", 0), "");
    EXPECT_EQ(RepeatStr("ab", -2), "");
    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("/tmp"), "/tmp/");
    EXPECT_EQ(AddBackslash("/tmp/"), "/tmp/");
    EXPECT_EQ(AddBackslash("a\\"), "a\\/");
}

TEST(CrclistTool, PrintsTheReportAndExitCodes)
{
    TempDir dir;
    dir.Write("abc.txt", "abc");
    dir.Write("digits.txt", "123456789");
    const auto run = [&](const std::string& args, std::string& out) {
        const std::string command = "cd '" + dir.path() + "' && '" CRCLIST_PROGRAM "' " + args + " 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        out.clear();
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        const int status = ::pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string out;
    EXPECT_EQ(run("abc.txt digits.txt", out), 0);
    EXPECT_EQ(out, "Name        CRC   Bytes\n----------  ----  -\nabc.txt     61DA  3\ndigits.txt  6F91  9\n"
                   "-------------------\nTotal  2 Files  12 Bytes\nCRCText=6F91\n");
    // A missing file is named on standard error, not reported.
    EXPECT_EQ(run("-32 missing", out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(run("", out), 2);
    EXPECT_EQ(run("-16 abc.txt", out), 2);
    EXPECT_EQ(out, "");
}

int main(int argc, char** argv)
{
    // Sizes are grouped with the locale's separator; the expected texts use ",".
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
