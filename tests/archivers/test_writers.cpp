// Archives the libraries write, read back by the programs people use
// (unzip, 7-Zip, GNU tar, cabextract) and by our own readers; adding,
// freshening and deleting; updates that fail or are aborted leaving the old
// archive as it was; creation that stays inside its folder; the full check,
// the listing and one member into memory.
#include "ArchiverHarness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool Have(const char* tool) { return Shell(".", std::string("command -v ") + tool) == 0; }

std::string Q(const std::string& text) { return "\"" + text + "\""; }

// A ZIP32J command line: switches, archive, base folder, names.
std::string ZipLine(const std::string& switches, const std::string& archive, const std::string& folder,
                    const std::string& names)
{
    return " " + switches + "  " + Q(archive) + " " + Q(folder + "/") + " " + names + " ";
}

void Touch(const std::string& path, time_t when)
{
    struct utimbuf times {when, when};
    utime(path.c_str(), &times);
}

// The member names the library lists, in the archive's order.
std::vector<std::string> MemberNames(ArchiverLib& lib, const std::string& archive)
{
    std::vector<std::string> list;
    for (const auto& info : lib.List(archive))
        list.emplace_back(info.FileName);
    return list;
}

// The files of the folder, every name but the temporary ones.
size_t FilesIn(const std::string& folder)
{
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        (void)e;
        ++n;
    }
    return n;
}

} // namespace

TEST(Writers, ArchivesWeWriteAreReadByOtherPrograms)
{
    TempDir work, src;
    MakeSourceTree(src.path());
    const Tree expected = TreeOf(src.path());
    std::string log;

    // ZIP through ZIP32J.DLL's "Zip", recursing.
    const std::string zip = work / "a.zip";
    ASSERT_EQ(Zip32j().RunZip(ZipLine("-D -r", zip, src.path(), "\"*\""), &log), 0) << log;
    if (Have("unzip")) {
        EXPECT_EQ(Shell(work.path(), "unzip -tq a.zip"), 0);
        TempDir out;
        EXPECT_EQ(Shell(out.path(), "unzip -q " + Quote(zip)), 0);
        EXPECT_EQ(TreeOf(out.path()), expected);
    }
    if (Have("7zz")) {
        EXPECT_EQ(Shell(work.path(), "7zz t a.zip"), 0);
    }
    TempDir ours;
    EXPECT_EQ(Unzip().Run(ExtractLine(zip, ours.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(ours.path()), expected);
    // LMZIP32.DLL's "-ru" writes the same.
    const std::string lm = work / "lm.zip";
    ASSERT_EQ(Lmzip32().RunZip("-ru  " + Q(lm) + " " + Q(src.path() + "/") + " \"*\" ", &log), 0) << log;
    TempDir lmOut;
    EXPECT_EQ(Unzip().Run(ExtractLine(lm, lmOut.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(lmOut.path()), expected);

    // LHA: -lh5- with level-2 headers, CP932 names.
    const std::string lzh = work / "a.lzh";
    ASSERT_EQ(Unlha().Run("u -+  " + Q(lzh) + " " + Q(src.path() + "/") + " \"*\" ", &log), 0) << log;
    if (Have("lhasa")) {
        TempDir out;
        EXPECT_EQ(Shell(out.path(), "lhasa xq " + Quote(lzh)), 0);
        Tree theirs = TreeOf(out.path());
        // lhasa writes the stored CP932 name as it is.
        auto japanese = theirs.find("sub/\x93\xfa\x96\x7b\x8c\xea.txt");
        ASSERT_NE(japanese, theirs.end());
        theirs["sub/日本語.txt"] = japanese->second;
        theirs.erase(japanese);
        EXPECT_EQ(theirs, expected);
    }
    TempDir lzhOut;
    EXPECT_EQ(Unlha().Run(ExtractLine(lzh, lzhOut.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(lzhOut.path()), expected);
    EXPECT_EQ(Unlha().check(lzh.c_str(), 2), 1);

    // The tar family.
    for (const char* sw : {"", "-z", "-B"}) {
        SCOPED_TRACE(sw);
        const std::string tar = work / (std::string("t") + sw + ".tar");
        ASSERT_EQ(Tar().Run("c " + std::string(sw) + "  -f " + Q(tar) + " -o " + Q(src.path() + "/") + " \"*\" ", &log),
                  0)
            << log;
        TempDir gnu, mine;
        EXPECT_EQ(Shell(gnu.path(), "tar xf " + Quote(tar)), 0);
        EXPECT_EQ(TreeOf(gnu.path()), expected);
        EXPECT_EQ(Tar().Run(TarExtractLine(tar, mine.path()), &log), 0) << log;
        EXPECT_EQ(TreeOf(mine.path()), expected);
    }
    const int type = reinterpret_cast<ARC_TARGETARCHIVETYPE>(Tar().Entry("GetArchiveType"))((work / "t-z.tar").c_str());
    EXPECT_EQ(type, 2);

    // CAB, MSZIP.
    const std::string cab = work / "a.cab";
    ASSERT_EQ(Cab().Run("-a  " + Q(cab) + " " + Q(src.path() + "/") + " \"*\" ", &log), 0) << log;
    if (Have("cabextract")) {
        TempDir out;
        EXPECT_EQ(Shell(out.path(), "cabextract -q " + Quote(cab)), 0);
        EXPECT_EQ(TreeOf(out.path()), expected);
    }
    TempDir cabOut;
    EXPECT_EQ(Cab().Run(ExtractLine(cab, cabOut.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(cabOut.path()), expected);

    // BGA: GZA and BZA (no other reader on the machine: ours, and the
    // streams inside checked by zlib and libbz2 as the reader decodes them).
    for (const char* name : {"a.gza", "a.bza"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Bga().Run("a -n -j  " + Q(work / name) + " " + Q(src.path() + "/") + " \"*\" ", &log), 0) << log;
        TempDir out;
        EXPECT_EQ(Bga().Run(ExtractLine(work / name, out.path()), &log), 0) << log;
        EXPECT_EQ(TreeOf(out.path()), expected);
        EXPECT_EQ(Bga().check((work / name).c_str(), 2), 1);
    }
    // Stored where the data does not shrink: the random file's member is
    // as large as the file.
    bool stored = false;
    for (const auto& info : Bga().List(work / "a.gza"))
        if (std::string(info.FileName) == "random.bin")
            stored = info.CompressedSize == info.OriginalSize;
    EXPECT_TRUE(stored);
}

TEST(Writers, AddingFresheningAndDeletingLeaveExactlyTheExpectedMembers)
{
    TempDir work, src;
    WriteFile(src / "a.txt", "first a\n");
    WriteFile(src / "b.txt", "first b\n");
    const time_t old = time(nullptr) - 3600;
    Touch(src / "a.txt", old);
    Touch(src / "b.txt", old);
    const std::string zip = work / "z.zip";
    std::string log;
    auto member = [&](const std::string& archive, const std::string& name) {
        std::string data;
        Unzip().ExtractMem(" " + Q(archive) + " " + Q(name) + " ", data, 1000);
        return data;
    };
    ASSERT_EQ(Zip32j().RunZip(ZipLine("-D", zip, src.path(), "a.txt b.txt"), &log), 0) << log;
    EXPECT_EQ(MemberNames(Unzip(), zip), (std::vector<std::string>{"a.txt", "b.txt"}));

    // b changes and c appears: freshening takes b only.
    WriteFile(src / "b.txt", "second b\n");
    WriteFile(src / "c.txt", "c\n");
    ASSERT_EQ(Zip32j().RunZip("-f" + ZipLine("-D", zip, src.path(), "\"*\""), &log), 0) << log;
    EXPECT_EQ(MemberNames(Unzip(), zip), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(member(zip, "b.txt"), "second b\n");
    EXPECT_EQ(member(zip, "a.txt"), "first a\n");
    // Updating adds c and leaves the rest.
    ASSERT_EQ(Zip32j().RunZip(ZipLine("-D -u", zip, src.path(), "\"*\""), &log), 0) << log;
    EXPECT_EQ(MemberNames(Unzip(), zip), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    // Deleting with a wildcard.
    ASSERT_EQ(Zip32j().RunZip("-d -D  " + Q(zip) + " \"[ab].txt\" ", &log), 0) << log;
    EXPECT_EQ(MemberNames(Unzip(), zip), (std::vector<std::string>{"c.txt"}));
    // Adding a folder again replaces its member rather than doubling it.
    Shell(src.path(), "mkdir -p sub && echo s > sub/s.txt");
    const std::string folders = work / "f.zip";
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(Zip32j().RunZip(ZipLine("-r", folders, src.path(), "sub"), &log), 0) << log;
    EXPECT_EQ(MemberNames(Unzip(), folders), (std::vector<std::string>{"sub/", "sub/s.txt"}));
    // Deleting what is not there changes nothing and says so.
    EXPECT_EQ(Zip32j().RunZip("-d -D  " + Q(zip) + " \"none.txt\" ", &log), ARCERR_NO_FILES) << log;
    if (Have("unzip")) {
        EXPECT_EQ(Shell(work.path(), "unzip -tq z.zip"), 0);
    }

    // BGA: adding replaces, deleting removes.
    const std::string gza = work / "g.gza";
    ASSERT_EQ(Bga().Run("a -n -j  " + Q(gza) + " " + Q(src.path() + "/") + " \"a.txt\" \"b.txt\" ", &log), 0) << log;
    WriteFile(src / "a.txt", "third a\n");
    ASSERT_EQ(Bga().Run("a -n -j  " + Q(gza) + " " + Q(src.path() + "/") + " \"a.txt\" ", &log), 0) << log;
    ASSERT_EQ(Bga().Run("d -n -j  " + Q(gza) + " \"b.txt\" ", &log), 0) << log;
    EXPECT_EQ(MemberNames(Bga(), gza), (std::vector<std::string>{"a.txt"}));
    TempDir out;
    EXPECT_EQ(Bga().Run(ExtractLine(gza, out.path()), &log), 0) << log;
    EXPECT_EQ(ReadFile(out / "a.txt"), "third a\n");

    // CAB: adding to a cabinet keeps what it held.
    const std::string cab = work / "c.cab";
    ASSERT_EQ(Cab().Run("-a  " + Q(cab) + " " + Q(src.path() + "/") + " \"a.txt\" ", &log), 0) << log;
    ASSERT_EQ(Cab().Run("-a  " + Q(cab) + " " + Q(src.path() + "/") + " \"c.txt\" ", &log), 0) << log;
    EXPECT_EQ(MemberNames(Cab(), cab), (std::vector<std::string>{"a.txt", "c.txt"}));
}

TEST(Writers, AnUpdateThatFailsLeavesTheOldArchiveAsItWas)
{
    TempDir work, src;
    MakeSourceTree(src.path());
    const std::string zip = work / "z.zip";
    std::string log;
    ASSERT_EQ(Zip32j().RunZip(ZipLine("-r", zip, src.path(), "\"*\""), &log), 0) << log;
    // A member that cannot be decoded any more: the update cannot copy it.
    std::string damaged = ReadFile(zip);
    for (size_t i = 2000; i < 2040; ++i)
        damaged[i] = static_cast<char>(damaged[i] ^ 0x33);
    WriteFile(zip, damaged);
    WriteFile(src / "new.txt", "new\n");
    EXPECT_NE(Zip32j().RunZip(ZipLine("-r", zip, src.path(), "new.txt"), &log), 0) << log;
    EXPECT_EQ(ReadFile(zip), damaged);
    EXPECT_EQ(FilesIn(work.path()), 1u) << "a temporary file was left behind";

    // A file of another kind is never taken for the archive.
    WriteFile(work / "notes.zip", "my notes, not an archive");
    EXPECT_EQ(Zip32j().RunZip(ZipLine("", work / "notes.zip", src.path(), "new.txt"), &log), ARCERR_NOT_ARCHIVE);
    EXPECT_EQ(ReadFile(work / "notes.zip"), "my notes, not an archive");

    // The owner window aborts while the second member goes in.
    const std::string good = work / "g.gza";
    ASSERT_EQ(Bga().Run("a -n -j  " + Q(good) + " " + Q(src.path() + "/") + " \"words.txt\" ", &log), 0) << log;
    const std::string before = ReadFile(good);
    RecordedProgress().clear();
    ASSERT_NE(Bga().setOwner(0x77, nullptr), 0);
    AbortOnState(ARCEXTRACT_BEGIN, 1);
    EXPECT_EQ(Bga().Run("a -n -j  " + Q(good) + " " + Q(src.path() + "/") + " \"empty\" \"random.bin\" ", &log),
              ARCERR_ABORTED)
        << log;
    AbortOnState(-1);
    Bga().killOwner(0x77);
    EXPECT_EQ(ReadFile(good), before);
    EXPECT_FALSE(RecordedProgress().empty());
    EXPECT_EQ(FilesIn(work.path()), 3u);

    // The LHA library never writes an ARJ archive it is handed.
    WriteFile(work / "a.arj", MakeStoredArj({{"x.txt", "x"}}));
    const std::string arj = ReadFile(work / "a.arj");
    EXPECT_EQ(Unlha().Run("u -+  " + Q(work / "a.arj") + " " + Q(src.path() + "/") + " \"words.txt\" ", &log),
              ARCERR_METHOD);
    EXPECT_EQ(ReadFile(work / "a.arj"), arj);
    std::string data;
    EXPECT_EQ(Unlha().ExtractMem(" -+  " + Q(work / "a.arj") + " \"x.txt\" ", data, 10), 0);
    EXPECT_EQ(data, "x");
}

TEST(Writers, AnUpdateNeverDropsAMember)
{
    TempDir work, src;
    std::string log;
    WriteFile(src / "new.txt", "new\n");

    // An old member the format cannot take again (a BGA folder entry): the
    // update stops, nothing is lost.
    const std::string gza = work / "f.gza";
    WriteFile(gza, MakeBga({{"", "dir", "", false, 2, 0x10}, {"", "x.txt", "x\n"}}));
    const std::string bga = ReadFile(gza);
    EXPECT_NE(Bga().Run("a -n -j  " + Q(gza) + " " + Q(src.path() + "/") + " \"new.txt\" ", &log), 0) << log;
    EXPECT_EQ(ReadFile(gza), bga);
    EXPECT_EQ(FilesIn(work.path()), 1u) << "a temporary file was left behind";

    // A newer file the format cannot hold (4 GiB) does not take its old
    // member with it.
    const std::string big = work / "big.lzh";
    WriteFile(src / "big", "small at first\n");
    Touch(src / "big", time(nullptr) - 3600);
    ASSERT_EQ(Unlha().Run("u -+  " + Q(big) + " " + Q(src.path() + "/") + " \"big\" ", &log), 0) << log;
    const std::string before = ReadFile(big);
    ASSERT_EQ(truncate((src / "big").c_str(), (off_t(1) << 32) + 1), 0);
    EXPECT_EQ(Unlha().Run("u -+  " + Q(big) + " " + Q(src.path() + "/") + " \"big\" ", &log), ARCERR_NAME) << log;
    EXPECT_EQ(ReadFile(big), before);
    fs::remove(src / "big");

    // Two files stored under one name: the second is refused, not stored
    // twice. An archive holding a name twice gets one new member for both.
    Shell(src.path(), "mkdir -p a b && echo first > a/x && echo second > b/x");
    const std::string junk = work / "j.zip";
    EXPECT_EQ(Zip32j().RunZip(ZipLine("-j", junk, src.path(), "a/x b/x"), &log), ARCERR_NAME) << log;
    EXPECT_EQ(MemberNames(Unzip(), junk), std::vector<std::string>{"x"});
    if (Have("python3")) {
        const std::string twice = work / "t.zip";
        ASSERT_EQ(Shell(work.path(), "python3 -W ignore -c \"import zipfile; z = zipfile.ZipFile('t.zip', 'w'); "
                                     "z.writestr('x', 'old 1'); z.writestr('x', 'old 2'); z.close()\""),
                  0);
        ASSERT_EQ(Zip32j().RunZip(ZipLine("-j", twice, src.path(), "a/x"), &log), 0) << log;
        EXPECT_EQ(MemberNames(Unzip(), twice), std::vector<std::string>{"x"});
        TempDir out;
        EXPECT_EQ(Unzip().Run(ExtractLine(twice, out.path()), &log), 0) << log;
        EXPECT_EQ(ReadFile(out / "x"), "first\n");
        fs::remove(twice);
    }
    fs::remove(junk);

    // Deleting every member leaves an archive that takes members again.
    for (const char* name : {"e.lzh", "e.gza"}) {
        SCOPED_TRACE(name);
        ArchiverLib& lib = std::string(name) == "e.lzh" ? Unlha() : Bga();
        const std::string add = std::string(name) == "e.lzh" ? "u -+  " : "a -n -j  ";
        const std::string del = std::string(name) == "e.lzh" ? "d -+  " : "d -n -j  ";
        const std::string path = work / name;
        ASSERT_EQ(lib.Run(add + Q(path) + " " + Q(src.path() + "/") + " \"new.txt\" ", &log), 0) << log;
        ASSERT_EQ(lib.Run(del + Q(path) + " \"new.txt\" ", &log), 0) << log;
        EXPECT_TRUE(MemberNames(lib, path).empty());
        EXPECT_EQ(lib.Run(add + Q(path) + " " + Q(src.path() + "/") + " \"new.txt\" ", &log), 0) << log;
        EXPECT_EQ(MemberNames(lib, path), std::vector<std::string>{"new.txt"});
        fs::remove(path);
    }

    // Where no file goes in, no archive is made; a cabinet refuses what
    // one folder of it cannot hold.
    WriteFile(src / "\u00E9t\u00E9.txt", "summer\n");
    EXPECT_NE(Unlha().Run("u -+  " + Q(work / "none.lzh") + " " + Q(src.path() + "/") + " \"\u00E9t\u00E9.txt\" ", &log),
              0);
    EXPECT_FALSE(fs::exists(work / "none.lzh"));
    WriteFile(src / "huge", "");
    ASSERT_EQ(truncate((src / "huge").c_str(), off_t(3) << 30), 0);
    EXPECT_EQ(Cab().Run("-a  " + Q(work / "huge.cab") + " " + Q(src.path() + "/") + " \"huge\" ", &log), ARCERR_NAME)
        << log;
    EXPECT_NE(log.find("the cabinet is full"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(work / "huge.cab"));

    // The old archive's mode stays, also where tar writes it anew.
    const std::string kept = work / "m.lzh";
    ASSERT_EQ(Unlha().Run("u -+  " + Q(kept) + " " + Q(src.path() + "/") + " \"new.txt\" ", &log), 0) << log;
    chmod(kept.c_str(), 0600);
    WriteFile(src / "more.txt", "more\n");
    ASSERT_EQ(Unlha().Run("u -+  " + Q(kept) + " " + Q(src.path() + "/") + " \"more.txt\" ", &log), 0) << log;
    const std::string tar = work / "m.tar";
    WriteFile(tar, "");
    chmod(tar.c_str(), 0600);
    ASSERT_EQ(Tar().Run("c  -f " + Q(tar) + " -o " + Q(src.path() + "/") + " \"new.txt\" ", &log), 0) << log;
    for (const std::string& path : {kept, tar}) {
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
    }
    // Updated through a link, the archive changes where it lies.
    fs::create_symlink(kept, work / "link.lzh");
    WriteFile(src / "last.txt", "last\n");
    ASSERT_EQ(Unlha().Run("u -+  " + Q(work / "link.lzh") + " " + Q(src.path() + "/") + " \"last.txt\" ", &log), 0)
        << log;
    EXPECT_TRUE(fs::is_symlink(work / "link.lzh"));
    EXPECT_EQ(MemberNames(Unlha(), kept), (std::vector<std::string>{"new.txt", "more.txt", "last.txt"}));
}

TEST(Writers, BgaStoresNoNameWhoseCp932FormReadsAsAnother)
{
    // iconv writes U+00A5 YEN SIGN as the backslash and U+203E OVERLINE as
    // "~": stored so, "a¥b.txt" would come back as the file b.txt in a
    // folder a. Such a name has no CP932 form; the others still do.
    TempDir work, src;
    WriteFile(src / "a\u00A5b.txt", "yen\n");
    WriteFile(src / "c\u203E.txt", "overline\n");
    WriteFile(src / "\u65E5\u672C.txt", "japanese\n");
    const std::string gza = work / "n.gza";
    std::string log;
    EXPECT_NE(Bga().Run("a -n -j  " + Q(gza) + " " + Q(src.path() + "/") + " \"*\" ", &log), 0) << log;
    EXPECT_NE(log.find("the name has no CP932 form"), std::string::npos) << log;
    std::vector<std::string> stored;
    for (const auto& info : Bga().List(gza))
        stored.push_back(info.FileName);
    EXPECT_EQ(stored, std::vector<std::string>{"\u65E5\u672C.txt"});
}

TEST(Writers, CreationStaysInsideItsFolder)
{
    TempDir root;
    Shell(root.path(), "mkdir -p base/sub outside && echo secret > outside/secret.txt && echo in > base/sub/in.txt"
                       " && ln -s ../outside/secret.txt base/out-link && ln -s sub/in.txt base/in-link"
                       " && ln -s ../outside base/out-folder");
    const std::string base = root / "base";
    std::string log;
    // Names that climb out or are absolute are refused; the rest goes in.
    const std::string zip = root / "z.zip";
    EXPECT_EQ(Zip32j().RunZip(ZipLine("-D -r", zip, base, "\"../outside/secret.txt\" \"/etc/hostname\" \"sub\""),
                              &log),
              ARCERR_UNSAFE)
        << log;
    std::vector<std::string> names;
    for (const auto& info : Unzip().List(zip))
        names.emplace_back(info.FileName);
    EXPECT_EQ(names, (std::vector<std::string>{"sub/in.txt"}));
    // Links are stored as links, never followed: the folder link brings
    // nothing from outside.
    EXPECT_EQ(Zip32j().RunZip(ZipLine("-D -r", root / "l.zip", base, "\"*\""), &log), 0) << log;
    if (Have("unzip")) {
        TempDir out;
        EXPECT_EQ(Shell(out.path(), "unzip -q " + Quote(root / "l.zip")), 0);
        EXPECT_FALSE(Exists(out / "out-folder/secret.txt"));
        EXPECT_EQ(fs::read_symlink(out / "out-link").string(), "../outside/secret.txt");
    }
    // Where links cannot be stored (CAB), one into the folder stands for its
    // file; one out of it is refused.
    EXPECT_EQ(Cab().Run("-a  " + Q(root / "c.cab") + " " + Q(base + "/") + " \"*\" ", &log), ARCERR_UNSAFE) << log;
    TempDir out;
    EXPECT_EQ(Cab().Run(ExtractLine(root / "c.cab", out.path()), &log), 0) << log;
    EXPECT_EQ(ReadFile(out / "in-link"), "in\n");
    EXPECT_FALSE(Exists(out / "out-link"));
    EXPECT_FALSE(Exists(out / "out-folder"));
}

TEST(Writers, FullCheckListingAndMemory)
{
    TempDir work, src;
    MakeSourceTree(src.path());
    const std::string zip = work / "z.zip";
    std::string log;
    ASSERT_EQ(Zip32j().RunZip(ZipLine("-r", zip, src.path(), "\"*\""), &log), 0) << log;
    EXPECT_EQ(Unzip().check(zip.c_str(), 2), 1);

    // The listing: names, sizes, the CRC-32 of the data, the method.
    const std::string words = ReadFile(src / "words.txt");
    bool listed = false;
    for (const auto& info : Unzip().List(zip, "*.txt")) {
        if (std::string(info.FileName) != "words.txt")
            continue;
        listed = true;
        EXPECT_EQ(info.OriginalSize, words.size());
        EXPECT_LT(info.CompressedSize, info.OriginalSize);
        EXPECT_EQ(info.CRC, crc32(0, reinterpret_cast<const Bytef*>(words.data()), static_cast<uInt>(words.size())));
        EXPECT_STREQ(info.Method, "Deflate");
        EXPECT_GT(info.Ratio, 0);
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(Unzip().List(zip, "*.bin").size(), 2u);

    // One member into memory, whole or cut at the buffer's end.
    std::string data;
    EXPECT_EQ(Unzip().ExtractMem(" " + Q(zip) + " \"words.txt\" ", data, static_cast<int>(words.size())), 0);
    EXPECT_EQ(data, words);
    EXPECT_EQ(Unzip().ExtractMem(" " + Q(zip) + " \"words.txt\" ", data, 100), ARCERR_SMALL_BUFFER);
    EXPECT_EQ(data, words.substr(0, 100));
    EXPECT_EQ(Unzip().ExtractMem(" " + Q(zip) + " \"none\" ", data, 100), ARCERR_NO_FILES);

    // One flipped byte in the data, and the full check finds it (the
    // header-only check does not).
    std::string bytes = ReadFile(zip);
    size_t at = bytes.find("words.txt") + 200;
    bytes[at] = static_cast<char>(bytes[at] ^ 1);
    WriteFile(work / "bad.zip", bytes);
    EXPECT_EQ(Unzip().check((work / "bad.zip").c_str(), 1), 1);
    EXPECT_EQ(Unzip().check((work / "bad.zip").c_str(), 2), 0);
}
