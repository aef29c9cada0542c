// The decoders behind the libraries, against what other programs make and
// read: cabinets as cabextract reads them (sets of several parts, cabinets
// inside other files), ZIP archives of every method 7-Zip writes (Deflate64
// through the second decoder), sparse tar files, and what a member that
// fails leaves behind.
#include "ArchiverHarness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool Have(const char* tool) { return Shell(".", std::string("command -v ") + tool) == 0; }

std::string Corpus() { return SamplesDir() + "/corpus"; }

} // namespace

TEST(Decoders, CabinetsComeOutAsCabextractExtractsThem)
{
    if (!Have("cabextract"))
        GTEST_SKIP() << "cabextract is not installed";
    // Every cabinet of the corpus: where cabextract succeeds, so do we, with
    // the same files; where it fails, we fail too.
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(Corpus())) {
        const std::string path = entry.path().string();
        if (entry.path().extension() != ".cab" || entry.path().filename() == "cab_filename_cp932.cab")
            continue;
        SCOPED_TRACE(path);
        TempDir ref, ours;
        const bool theirs = Shell(ref.path(), "cabextract -q " + Quote(path)) == 0;
        std::string log;
        const int rc = Cab().Run(ExtractLine(path, ours.path()), &log);
        EXPECT_EQ(rc == 0, theirs) << log;
        if (theirs) {
            EXPECT_EQ(TreeOf(ours.path()), TreeOf(ref.path()));
        }
        ++compared;
    }
    EXPECT_GT(compared, 60);

    // A set of five parts, under the names the parts give each other but in
    // capitals: read whole from any part.
    TempDir set, ref;
    for (int i = 1; i <= 5; ++i) {
        const std::string n = std::to_string(i);
        fs::copy_file(Corpus() + "/multi_basic_pt" + n + ".cab", set / ("CABD_MULTI_BASIC_PT" + n + ".CAB"));
        fs::copy_file(Corpus() + "/multi_basic_pt" + n + ".cab", ref / ("cabd_multi_basic_pt" + n + ".cab"));
    }
    ASSERT_EQ(Shell(ref.path(), "mkdir out && cabextract -q -d out cabd_multi_basic_pt1.cab"), 0);
    for (const char* start : {"CABD_MULTI_BASIC_PT1.CAB", "CABD_MULTI_BASIC_PT3.CAB"}) {
        TempDir out;
        std::string log;
        EXPECT_EQ(Cab().Run(ExtractLine(set / start, out.path()), &log), 0) << log;
        EXPECT_EQ(TreeOf(out.path()), TreeOf(ref / "out"));
        EXPECT_EQ(TreeOf(out.path()).size(), 3u);
    }
}

TEST(Decoders, CabinetsOfOurOwnEveryWayTheyAreStored)
{
    if (!Have("gcab"))
        GTEST_SKIP() << "gcab is not installed";
    TempDir work, src;
    MakeSourceTree(src.path());
    ASSERT_EQ(Shell(src.path(), "gcab -c -z " + Quote(work / "mszip.cab") + " $(find . -type f | sort) && gcab -c "
                                    + Quote(work / "none.cab") + " $(find . -type f | sort)"),
              0);
    for (const char* name : {"mszip.cab", "none.cab"}) {
        SCOPED_TRACE(name);
        TempDir out;
        std::string log;
        EXPECT_EQ(Cab().Run(ExtractLine(work / name, out.path()), &log), 0) << log;
        EXPECT_EQ(TreeOf(out.path()), TreeOf(src.path()));
    }

    // A cabinet inside another file, as the self-extracting programs of
    // the Windows tools hold one: found for detection and extraction.
    std::string stub = "MZ" + std::string(30000, '\x90');
    WriteFile(work / "setup.exe", stub + ReadFile(work / "mszip.cab") + std::string(5000, '\0'));
    EXPECT_TRUE(Cab().Detects(work / "setup.exe"));
    TempDir out;
    std::string log;
    EXPECT_EQ(Cab().Run(ExtractLine(work / "setup.exe", out.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(out.path()), TreeOf(src.path()));
    EXPECT_FALSE(Cab().Detects(work / "mszip.cab.missing"));
    WriteFile(work / "plain.exe", stub);
    EXPECT_FALSE(Cab().Detects(work / "plain.exe"));

    // Names: CP932 (the second byte of 表 is a backslash) and UTF-8.
    TempDir named, namedOut;
    WriteFile(named / "\x95\\\x82\xbe.txt", "cp932");
    WriteFile(named / "日本.txt", "utf8");
    ASSERT_EQ(Shell(named.path(), "gcab -c j.cab *.txt"), 0);
    EXPECT_EQ(Cab().Run(ExtractLine(named / "j.cab", namedOut.path()), &log), 0) << log;
    EXPECT_EQ(ReadFile(namedOut / "表だ.txt"), "cp932");
    EXPECT_EQ(ReadFile(namedOut / "日本.txt"), "utf8");
    TempDir corpusOut;
    EXPECT_EQ(Cab().Run(ExtractLine(Corpus() + "/cab_filename_cp932.cab", corpusOut.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(corpusOut.path()).count("表だよ/一覧表.txt"), 1u);
    EXPECT_EQ(TreeOf(corpusOut.path()).count("表だよ/漢字.txt"), 1u);
}

TEST(Decoders, ZipArchivesOfEveryMethod7ZipWrites)
{
    if (!Have("7zz"))
        GTEST_SKIP() << "7zz is not installed";
    TempDir work, src;
    MakeSourceTree(src.path());
    for (const char* method : {"Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "PPMd"}) {
        SCOPED_TRACE(method);
        const std::string zip = work / (std::string(method) + ".zip");
        ASSERT_EQ(Shell(src.path(), "7zz a -tzip -mm=" + std::string(method) + " " + Quote(zip) + " ."), 0);
        TempDir out;
        std::string log;
        EXPECT_EQ(Unzip().Run(ExtractLine(zip, out.path()), &log), 0) << log;
        EXPECT_EQ(TreeOf(out.path()), TreeOf(src.path()));
        EXPECT_EQ(Unzip().check(zip.c_str(), 2), 1);
    }

    // Encrypted members: refused by both decoders, nothing left of them.
    ASSERT_EQ(Shell(src.path(), "7zz a -tzip -pSecret -mem=AES256 " + Quote(work / "aes.zip") + " ."), 0);
    TempDir aesOut;
    EXPECT_NE(Unzip().Run(ExtractLine(work / "aes.zip", aesOut.path())), 0);
    EXPECT_EQ(TreeOf(aesOut.path()).count("random.bin"), 0u);

    // Deflate64 data damaged: neither decoder reads the member; the others
    // come out, and nothing is left of the damaged one.
    TempDir two;
    WriteFile(two / "a.txt", "first member\n");
    std::string big;
    for (int i = 0; i < 200000; ++i)
        big += std::to_string(i * 7919 % 100003) + (i % 13 ? " " : "\n");
    WriteFile(two / "b.txt", big);
    ASSERT_EQ(Shell(two.path(), "7zz a -tzip -mm=Deflate64 d64.zip a.txt b.txt"), 0);
    std::string zip = ReadFile(two / "d64.zip");
    const size_t middle = zip.size() / 2;
    for (size_t i = middle; i < middle + 32; ++i)
        zip[i] = static_cast<char>(zip[i] ^ 0x55);
    WriteFile(two / "bad.zip", zip);
    TempDir badOut;
    std::string log;
    EXPECT_NE(Unzip().Run(ExtractLine(two / "bad.zip", badOut.path()), &log), 0) << log;
    EXPECT_EQ(ReadFile(badOut / "a.txt"), "first member\n");
    EXPECT_FALSE(Exists(badOut / "b.txt")) << "a damaged member must not be left behind";
    EXPECT_EQ(Unzip().check((two / "bad.zip").c_str(), 2), 0);
}

TEST(Decoders, AFailedMemberLeavesTheFileItWouldReplaceAsItWas)
{
    TempDir work, out;
    Shell(work.path(), "mkdir src");
    WriteFile(work / "src/kept.txt", std::string(100000, 'k'));
    ASSERT_EQ(Shell(work / "src", "zip -q ../k.zip kept.txt"), 0);
    std::string zip = ReadFile(work / "k.zip");
    for (size_t i = 100; i < 120; ++i)
        zip[i] = static_cast<char>(zip[i] ^ 0x5A);
    WriteFile(work / "bad.zip", zip);
    WriteFile(out / "kept.txt", "the user's own file");
    EXPECT_NE(Unzip().Run(ExtractLine(work / "bad.zip", out.path())), 0);
    EXPECT_EQ(ReadFile(out / "kept.txt"), "the user's own file");
    // No temporary file stays behind either.
    EXPECT_EQ(TreeOf(out.path()).size(), 1u);
}

TEST(Decoders, SparseFilesKeepTheirHoles)
{
    TempDir work, out;
    const std::string sparse = work / "src/disk.img";
    Shell(work.path(), "mkdir src");
    // 1 GiB with 4 KiB of data at the start, in the middle and at 1 GiB - 4 KiB.
    ASSERT_EQ(Shell(work.path(), "truncate -s 1G src/disk.img"
                                 " && printf 'start' | dd of=src/disk.img conv=notrunc"
                                 " && printf 'middle' | dd of=src/disk.img bs=1 seek=536870912 conv=notrunc"
                                 " && cd src && tar -cSf ../s.tar disk.img"),
              0);
    std::string log;
    EXPECT_EQ(Tar().Run(TarExtractLine(work / "s.tar", out.path()), &log), 0) << log;
    struct stat st {};
    ASSERT_EQ(stat((out / "disk.img").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1 << 30);
    EXPECT_LT(st.st_blocks * 512, 1 << 20) << "the holes were written out";
    EXPECT_EQ(Shell(work.path(), "cmp src/disk.img " + Quote(out / "disk.img")), 0);
}
