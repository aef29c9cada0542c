// LHA archives written by LhaWriter, read back byte for byte by lhasa, jlha,
// libarchive (bsdtar) and this library's own UNLHA32.DLL; what the writer
// refuses; the encoder's blocks and streaming.
#include "ArchiverHarness.h"
#include "core/LhaEncoder.h"
#include "core/LhaWriter.h"

#include <archive.h>
#include <archive_entry.h>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iconv.h>
#include <locale.h>
#include <map>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using arc::LhaEncoder;
using arc::LhaWriter;
using arc::Member;

struct Source {
    Member member;
    std::string data;
};

Source File(const std::string& name, std::string data, uint32_t mode = 0)
{
    Source s;
    s.member.name = name;
    s.member.size = data.size();
    s.member.mtime = 1700000000;
    s.member.mode = mode;
    s.data = std::move(data);
    return s;
}

Source Folder(const std::string& name)
{
    Source s;
    s.member.name = name;
    s.member.type = Member::Folder;
    s.member.mtime = 1700000000;
    return s;
}

Source Link(const std::string& name, const std::string& target)
{
    Source s;
    s.member.name = name;
    s.member.type = Member::Symlink;
    s.member.link = target;
    return s;
}

std::string Random(size_t size, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
        uint64_t v = rng();
        std::memcpy(s.data() + i, &v, std::min<size_t>(8, size - i));
    }
    return s;
}

std::string Words(size_t size)
{
    static const char* const syllables[] = {"ka", "ri", "to", "ne", "su", "mo", "ha", "yu", "ki", "ro",
                                            "na", "shi", "te", "wa", "ga", "no"};
    std::mt19937 rng(5);
    std::string s;
    while (s.size() < size) {
        int n = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < n; ++k)
            s += syllables[rng() % 16];
        s += (rng() % 11 == 0) ? ".\n" : " ";
    }
    s.resize(size);
    return s;
}

// A unit of random bytes repeated with a byte changed now and then: matches
// run for the longest length, back by the unit's size.
std::string Repeats(size_t size, size_t unit, uint64_t seed)
{
    std::string base = Random(unit, seed);
    std::string s;
    s.reserve(size);
    std::mt19937 rng(static_cast<uint32_t>(seed));
    while (s.size() < size)
        s += base;
    s.resize(size);
    for (size_t i = rng() % 3000; i < size; i += 1000 + rng() % 4000)
        s[i] = static_cast<char>(rng());
    return s;
}

std::string Cp932(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string in = utf8, out(utf8.size() * 2 + 8, '\0');
    char* ip = in.data();
    char* op = out.data();
    size_t il = in.size(), ol = out.size();
    iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}

// Writes the members with LhaWriter, the data of each in pieces of varied
// size. Every Begin must succeed.
void WriteLzh(const std::string& path, const std::vector<Source>& members,
              LhaWriter::Method method = LhaWriter::Method::Lh5)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    {
        LhaWriter writer(fd, method);
        static const size_t pieces[] = {1, 7777, 65536, 3, 300000};
        for (const auto& s : members) {
            std::string why;
            ASSERT_TRUE(writer.Begin(s.member, why)) << s.member.name << ": " << why;
            size_t at = 0;
            for (size_t k = 0; at < s.data.size(); ++k) {
                size_t n = std::min(pieces[k % 5], s.data.size() - at);
                ASSERT_TRUE(writer.Write(s.data.data() + at, n));
                at += n;
            }
            ASSERT_TRUE(writer.End()) << writer.Error();
        }
        ASSERT_TRUE(writer.Finish()) << writer.Error();
    }
    close(fd);
}

// The members on disk, with UTF-8 or CP932 names, for TreeOf.
void Materialise(const std::string& root, const std::vector<Source>& members, bool cp932)
{
    for (const auto& s : members) {
        std::string name = cp932 ? Cp932(s.member.name) : s.member.name;
        std::filesystem::path p = std::filesystem::path(root) / name;
        if (s.member.type == Member::Folder) {
            std::filesystem::create_directories(p);
        } else if (s.member.type == Member::File) {
            std::filesystem::create_directories(p.parent_path());
            WriteFile(p.string(), s.data);
        }
    }
}

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string LinkTarget(const std::string& path)
{
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("(not a link)");
}

struct Stored {
    std::string method; // "-lh5-", "-lh0-", "-lhd-"
    unsigned mode = 0;
    int64_t mtime = 0;
};

// What libarchive reads of each member, by name (read as CP932).
std::map<std::string, Stored> Listing(const std::string& path)
{
    std::map<std::string, Stored> out;
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    locale_t old = utf8 ? uselocale(utf8) : nullptr;
    archive* a = archive_read_new();
    archive_read_support_format_lha(a);
    archive_read_set_options(a, "hdrcharset=CP932");
    if (archive_read_open_filename(a, path.c_str(), 65536) == ARCHIVE_OK) {
        archive_entry* e;
        while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
            std::string format = archive_format_name(a);
            out[archive_entry_pathname(e)] = {format.substr(format.size() - 5),
                                              static_cast<unsigned>(archive_entry_mode(e)), archive_entry_mtime(e)};
        }
    }
    archive_read_free(a);
    if (utf8) {
        uselocale(old);
        freelocale(utf8);
    }
    return out;
}

std::string Contents(const std::string& path) { return ReadFile(path); }

std::string Head(const std::string& path, size_t size)
{
    std::string s(size, '\0');
    FILE* f = std::fopen(path.c_str(), "rb");
    size_t n = f ? std::fread(s.data(), 1, size, f) : 0;
    if (f)
        std::fclose(f);
    s.resize(n);
    return s;
}

const std::string kLocale = "LC_ALL=C.UTF-8 ";

} // namespace

TEST(LhaWriter, EveryReaderGetsEveryByte)
{
    const size_t block = LhaEncoder::kBlockSymbols;
    std::string program = Head("/proc/self/exe", 700000); // machine code
    std::vector<Source> members = {
        File("words.txt", Words(400000)),
        File("program.bin", program),
        File("random.bin", Random(300000, 1)),
        File("empty", ""),
        Folder("vacant"),
        // An 'a' and then matches of 256: one block exactly, one more byte
        // (a second block of one literal), two blocks exactly.
        File("blocks/one.bin", std::string(1 + (block - 1) * 256, 'a')),
        File("blocks/one-and-a-byte.bin", std::string(2 + (block - 1) * 256, 'a')),
        File("blocks/two.bin", std::string(1 + (2 * block - 1) * 256, 'a')),
        // Long matches, also from the far end of the window; and none.
        File("big/matches.bin", Repeats(8'000'000, 5000, 2) + Repeats(4'000'000, 8192, 3)),
        File("big/random.bin", Random(10'000'000, 4)),
        Folder("日本語"),
        Folder("日本語/表示"),
        File("日本語/表示/ソフト.txt", Words(5000)),
        File("日本語/README.TXT", "ALL CAPITALS STAY AS THEY ARE\n"),
        File("sub/deep/notes.txt", Words(20000)),
        File("pipe|in a file name.txt", "a file, not a link\n"),
        // A header of 256 bytes, padded so that its first byte is not 0.
        File(std::string(213, 'p') + ".txt", Words(3000)),
    };
    members[0].member.attributes = 0x21; // read-only, archive
    TempDir work, plain, sjis;
    std::string lzh = work / "made.lzh";
    WriteLzh(lzh, members);
    Materialise(plain.path(), members, false);
    Materialise(sjis.path(), members, true);
    Tree expected = TreeOf(plain.path());
    Tree expectedCp932 = TreeOf(sjis.path());
    ASSERT_EQ(expected.size(), 14u);

    auto listing = Listing(lzh);
    EXPECT_EQ(listing["words.txt"].method, "-lh5-");
    EXPECT_EQ(listing["program.bin"].method, "-lh5-");
    EXPECT_EQ(listing["blocks/one.bin"].method, "-lh5-");
    EXPECT_EQ(listing["big/matches.bin"].method, "-lh5-");
    EXPECT_EQ(listing["random.bin"].method, "-lh0-");
    EXPECT_EQ(listing["big/random.bin"].method, "-lh0-");
    EXPECT_EQ(listing["empty"].method, "-lh0-");
    EXPECT_EQ(listing["vacant/"].method, "-lhd-");
    EXPECT_EQ(listing["日本語/表示/ソフト.txt"].method, "-lh5-");
    EXPECT_EQ(listing.size(), members.size());

    {
        SCOPED_TRACE("lhasa");
        TempDir out;
        EXPECT_EQ(Shell(out.path(), "lhasa t " + Quote(lzh)), 0);
        EXPECT_EQ(Shell(out.path(), "lhasa xq " + Quote(lzh)), 0);
        EXPECT_EQ(TreeOf(out.path()), expectedCp932); // lhasa keeps the stored bytes
        EXPECT_TRUE(IsFolder(out / "vacant"));
    }
    {
        SCOPED_TRACE("jlha");
        TempDir out;
        EXPECT_EQ(Shell(out.path(), kLocale + "jlha xy " + Quote(lzh)), 0);
        EXPECT_EQ(TreeOf(out.path()), expected);
        EXPECT_TRUE(IsFolder(out / "vacant"));
    }
    {
        SCOPED_TRACE("bsdtar");
        TempDir out;
        EXPECT_EQ(Shell(out.path(), kLocale + "bsdtar -xf " + Quote(lzh) + " --options hdrcharset=CP932"), 0);
        EXPECT_EQ(TreeOf(out.path()), expected);
        EXPECT_TRUE(IsFolder(out / "vacant"));
    }
    {
        SCOPED_TRACE("UNLHA32.DLL");
        TempDir out;
        std::string log;
        EXPECT_EQ(Unlha().Run(ExtractLine(lzh, out.path()), &log), 0) << log;
        EXPECT_EQ(TreeOf(out.path()), expected);
        EXPECT_TRUE(IsFolder(out / "vacant"));
    }
}

TEST(LhaWriter, LinksAsLhaForUnixStoresThem)
{
    std::vector<Source> members = {
        Folder("日本語"),
        File("日本語/ソフト.txt", "soft\n"),
        File("top.txt", "top\n"),
        Link("link", "日本語/ソフト.txt"),
        Folder("sub"),
        Link("sub/up", "../top.txt"),
    };
    TempDir work;
    std::string lzh = work / "links.lzh";
    WriteLzh(lzh, members);
    {
        SCOPED_TRACE("lhasa");
        TempDir out;
        EXPECT_EQ(Shell(out.path(), "lhasa xq " + Quote(lzh)), 0);
        EXPECT_EQ(LinkTarget(out / "link"), Cp932("日本語/ソフト.txt"));
        EXPECT_EQ(LinkTarget(out / "sub/up"), "../top.txt");
    }
    {
        SCOPED_TRACE("bsdtar");
        TempDir out;
        EXPECT_EQ(Shell(out.path(), kLocale + "bsdtar -xf " + Quote(lzh) + " --options hdrcharset=CP932"), 0);
        EXPECT_EQ(LinkTarget(out / "link"), "日本語/ソフト.txt");
        EXPECT_EQ(LinkTarget(out / "sub/up"), "../top.txt");
    }
    {
        SCOPED_TRACE("UNLHA32.DLL");
        TempDir out;
        std::string log;
        EXPECT_EQ(Unlha().Run(ExtractLine(lzh, out.path()), &log), 0) << log;
        EXPECT_EQ(LinkTarget(out / "link"), "日本語/ソフト.txt");
        EXPECT_EQ(LinkTarget(out / "sub/up"), "../top.txt");
        EXPECT_EQ(ReadFile(out / "link"), "soft\n");
    }
    {
        SCOPED_TRACE("jlha knows no links and leaves them out");
        TempDir out;
        EXPECT_EQ(Shell(out.path(), kLocale + "jlha xy " + Quote(lzh)), 0);
        EXPECT_EQ(ReadFile(out / "日本語/ソフト.txt"), "soft\n");
        EXPECT_FALSE(Exists(out / "link"));
    }
}

TEST(LhaWriter, RefusesWhatTheFormatCannotHoldAndWritesNothingForIt)
{
    Source before = File("before.txt", "before\n");
    Source after = File("after.txt", "after\n");
    TempDir work;
    std::string clean = work / "clean.lzh";
    WriteLzh(clean, {before, after});

    std::string lzh = work / "refused.lzh";
    int fd = open(lzh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    {
        LhaWriter writer(fd);
        std::string why;
        ASSERT_TRUE(writer.Begin(before.member, why));
        ASSERT_TRUE(writer.Write(before.data.data(), before.data.size()));
        ASSERT_TRUE(writer.End());
        Source hard = File("hard", "");
        hard.member.type = Member::Hardlink;
        hard.member.link = "before.txt";
        Source huge = File("huge.bin", "");
        huge.member.size = 0x100000000ull;
        for (const Source& s : {File("café.txt", "x"), File("emoji😀.txt", "x"), File("back\\slash.txt", "x"),
                                File("¥100.txt", "x"), File("波〜.txt", "x"), File("bad\xff.txt", "x"), Folder("été"),
                                Link("ポ", "before.txt"), Link("link", "café"), hard, huge}) {
            why.clear();
            EXPECT_FALSE(writer.Begin(s.member, why)) << s.member.name;
            EXPECT_NE(why, "") << s.member.name;
        }
        ASSERT_TRUE(writer.Begin(after.member, why)) << why;
        ASSERT_TRUE(writer.Write(after.data.data(), after.data.size()));
        ASSERT_TRUE(writer.End());
        ASSERT_TRUE(writer.Finish());
    }
    close(fd);
    EXPECT_EQ(Contents(lzh), Contents(clean));
}

TEST(LhaWriter, HeadersStoreOnlyAndTheEnd)
{
    std::string random = Random(200000, 9);
    std::vector<Source> members = {
        File("script.sh", Words(30000), 0750),
        File(std::string(213, 'p') + ".txt", Words(3000)),
        File("plain.txt", Words(30000)),
        Folder("private"),
        File("random.bin", random),
    };
    members[3].member.mode = 0700;
    TempDir work;
    std::string lzh = work / "a.lzh";
    WriteLzh(lzh, members);
    auto listing = Listing(lzh);
    EXPECT_EQ(listing["script.sh"].mode, 0100750u);
    EXPECT_EQ(listing["plain.txt"].mode, 0100644u);
    EXPECT_EQ(listing["private/"].mode, 040700u);
    EXPECT_EQ(listing["script.sh"].mtime, 1700000000);

    // Level 2, made on Unix, 0x20 where libarchive wants it; a random
    // member is stored, and the file ends with the end mark right after it
    // although the compressed data before it was longer.
    std::string bytes = Contents(lzh);
    ASSERT_GT(bytes.size(), 26u);
    size_t padded = bytes.find(std::string(213, 'p'));
    ASSERT_NE(padded, std::string::npos);
    padded = bytes.rfind("-lh", padded) - 2;
    EXPECT_EQ(bytes.substr(padded, 2), std::string("\x01\x01", 2)); // 256 + 1
    EXPECT_EQ(bytes[19], 0x20);
    EXPECT_EQ(bytes[20], 2);
    EXPECT_EQ(bytes[23], 'U');
    size_t last = bytes.rfind("-lh0-") - 2;
    size_t headerSize = static_cast<unsigned char>(bytes[last]) | (static_cast<unsigned char>(bytes[last + 1]) << 8);
    EXPECT_EQ(bytes.size(), last + headerSize + random.size() + 1);
    EXPECT_EQ(bytes.back(), '\0');

    std::string stored = work / "stored.lzh";
    WriteLzh(stored, members, LhaWriter::Method::Lh0);
    for (auto& [name, s] : Listing(stored))
        EXPECT_TRUE(s.method == "-lh0-" || s.method == "-lhd-") << name;
    TempDir plain, out;
    Materialise(plain.path(), members, false);
    EXPECT_EQ(Shell(out.path(), "lhasa xq " + Quote(stored)), 0);
    EXPECT_EQ(TreeOf(out.path()), TreeOf(plain.path()));
}

TEST(LhaWriter, AWriteErrorIsAFailure)
{
    int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    LhaWriter writer(fd);
    Source s = File("words.txt", Words(1'000'000));
    std::string why;
    ASSERT_TRUE(writer.Begin(s.member, why));
    bool wrote = writer.Write(s.data.data(), s.data.size()) && writer.End() && writer.Finish();
    EXPECT_FALSE(wrote);
    EXPECT_NE(writer.Error().find("No space"), std::string::npos) << writer.Error();
    EXPECT_FALSE(writer.Begin(s.member, why));
    close(fd);
}

TEST(LhaEncoder, BlocksAndPiecesDoNotChangeTheOutput)
{
    auto encode = [](const std::string& data, const std::vector<size_t>& pieces) {
        std::string out;
        LhaEncoder e([&](const uint8_t* p, size_t n) {
            out.append(reinterpret_cast<const char*>(p), n);
            return true;
        });
        size_t at = 0;
        for (size_t k = 0; at < data.size(); ++k) {
            size_t n = std::min(pieces[k % pieces.size()], data.size() - at);
            EXPECT_TRUE(e.Write(data.data() + at, n));
            at += n;
        }
        EXPECT_TRUE(e.Finish());
        EXPECT_EQ(e.BytesOut(), out.size());
        return out;
    };
    std::string data = Words(600000) + Random(100000, 6) + Repeats(1'500'000, 7000, 7) + std::string(300000, '\0');
    std::string whole = encode(data, {data.size()});
    EXPECT_LT(whole.size(), data.size() / 2);
    EXPECT_EQ(encode(data, {1, 2, 3, 4093, 65536, 262144, 300001}), whole);
    EXPECT_EQ(encode("", {1}), "");

    // A block holds kBlockSymbols literals and matches: its size comes
    // first, in 16 bits.
    std::string one = encode(std::string(1 + (LhaEncoder::kBlockSymbols - 1) * 256, 'a'), {65536});
    ASSERT_GE(one.size(), 2u);
    EXPECT_EQ((static_cast<unsigned char>(one[0]) << 8) | static_cast<unsigned char>(one[1]),
              static_cast<int>(LhaEncoder::kBlockSymbols));
}

TEST(LhaEncoder, CodesAreCompleteAndAtMostSixteenBits)
{
    // Fibonacci frequencies make a Huffman code one bit deeper per symbol.
    uint32_t freq[510] = {};
    uint32_t a = 1, b = 1;
    for (unsigned s = 100; s < 125; ++s) {
        freq[s] = a;
        uint32_t c = a + b;
        a = b;
        b = c;
    }
    freq[300] = 1; // and one more of the rarest
    uint8_t len[510];
    unsigned single = 99;
    ASSERT_EQ(LhaEncoder::CodeLengths(freq, 510, 16, len, single), 26u);
    uint64_t kraft = 0;
    for (unsigned s = 0; s < 510; ++s) {
        EXPECT_EQ(len[s] != 0, freq[s] != 0) << s;
        EXPECT_LE(len[s], 16) << s;
        if (len[s])
            kraft += uint64_t{1} << (16 - len[s]);
    }
    EXPECT_EQ(kraft, uint64_t{1} << 16); // complete: decoders take no other
    for (unsigned s = 101; s < 125; ++s)
        EXPECT_LE(len[s], len[s - 1]) << s;

    std::fill(std::begin(freq), std::end(freq), 0u);
    EXPECT_EQ(LhaEncoder::CodeLengths(freq, 14, 16, len, single), 0u);
    EXPECT_EQ(single, 0u);
    freq[7] = 5;
    EXPECT_EQ(LhaEncoder::CodeLengths(freq, 14, 16, len, single), 1u);
    EXPECT_EQ(single, 7u);
    EXPECT_EQ(len[7], 0);
}
