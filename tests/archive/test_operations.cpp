// The back-ends' full surface against the recording libraries (run from
// bin/recorder/): the command line of every operation, the response-file
// rule of each, the ExtractMem and CheckArchive arguments, the listing
// entries, the base messages of what a back-end does not offer, the order
// in which TArj32 tells its two libraries of the owner window, and the ZIP
// libraries' lookup orders (arcx beside some of them, in bin/zipsets/).
#include "test_archive.h"

#include "archive/ARJ32.h"
#include "archive/BGA32.h"
#include "archive/CAB32.h"
#include "archive/LHA32.h"
#include "archive/RAR32.h"
#include "archive/TAR32.h"
#include "archive/ZIP32.h"
#include "platform/FileNames.h"
#include "runtime/SysUtils.h"

#include <sys/stat.h>

using namespace archive_test;

namespace {

std::vector<std::string> g_trace;

} // namespace

// The recording libraries report every call here.
extern "C" __attribute__((visibility("default"))) void RecorderTrace(const char* call) { g_trace.emplace_back(call); }

namespace {

std::string recorded(TArchiverDll& dll, const char* what = "RecorderCommandLine")
{
    dll.Load();
    return reinterpret_cast<const char* (*)()>(dll.Find(what))();
}

int recordedNumber(TArchiverDll& dll, const char* what)
{
    dll.Load();
    return reinterpret_cast<int (*)()>(dll.Find(what))();
}

class Operations : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Unlha32Dll().Load() || !Unlha32Dll().Find("RecorderCommandLine"))
            GTEST_SKIP() << "the recording libraries are not beside this program";
        g_trace.clear();
    }
    std::string q(const std::string& text) { return "\"" + text + "\""; }
    TArchiverOptions o;
    TOutputBuffer out;
    const TFileList files{std::string("m1"), std::string("a\\b[1]")};
};

} // namespace

TEST_F(Operations, EveryOperationBuildsItsCommandLine)
{
    const std::string A = "/arc/a", F = "/src/dir";
    TLha32 lha;
    lha.Pack(0, A, out, false, files, F, o);
    EXPECT_EQ(lha.CommandLine, "u -+  " + q(A) + " " + q(F + "/") + " \"m1\" \"a\\b[1]\" ");
    EXPECT_EQ(recorded(Unlha32Dll()), lha.CommandLine);
    lha.UpdateItems(0, A, out, false, files, F, o);
    EXPECT_EQ(lha.CommandLine, "f -+  " + q(A) + " " + q(F + "/") + " \"m1\" \"a\\b[1]\" ");
    lha.RemoveItems(0, A, out, false, files, F, o);
    EXPECT_EQ(lha.CommandLine, "d -+  " + q(A) + " \"m1\" \"a\\b[1]\" ");

    // ARJ's creation, deletion and update are the LHA library's.
    TArj32 arj;
    arj.Pack(0, "/arc/a.arj", out, false, {std::string("m1")}, F, o);
    EXPECT_EQ(recorded(Unlha32Dll()), "u -+  \"/arc/a.arj\" " + q(F + "/") + " \"m1\" ");
    EXPECT_EQ(g_trace.back(), "UNLHA32.DLL Unlha");

    // ZIP: the ZIP32J builder without a command word, through "Zip".
    TZip32 zip;
    zip.Pack(0, A, out, false, files, F, o);
    EXPECT_EQ(zip.CommandLine, " -D  " + q(A) + " " + q(F + "/") + " \"m1\" \"a/b[[]1]\" ");
    EXPECT_EQ(g_trace.back(), "ZIP32J.DLL Zip");
    zip.RemoveItems(0, A, out, false, files, F, o);
    EXPECT_EQ(zip.CommandLine, "-d -D  " + q(A) + " \"m1\" \"a/b[[]1]\" ");
    zip.UpdateItems(0, A, out, false, files, F, o);
    EXPECT_EQ(zip.CommandLine, "-f -D  " + q(A) + " " + q(F + "/") + " \"m1\" \"a/b[[]1]\" ");
    TArchiverOptions all;
    all.a = 1;
    all.l = 1;
    all.n = 1;
    all.r = 1;
    all.u = 1;
    all.x = 0;
    all.jc = 1;
    all.ji = 1;
    all.jm = 9;
    all.gd = 1;
    all.UserOptions = "-user";
    zip.Pack(0, A, out, false, {std::string("m1")}, F, all);
    EXPECT_EQ(zip.CommandLine, " -S -D -v -q -r -o -u -j -FF -k -9 -J -user " + q(A) + " " + q(F + "/") + " \"m1\" ");
    all.a = 2;
    zip.Pack(0, A, out, false, {std::string("m1")}, F, all);
    EXPECT_EQ(zip.CommandLine.substr(0, 6), " -S -v");

    TCab32 cab;
    cab.Pack(0, "rel.cab", out, false, {std::string("m1")}, F, o);
    EXPECT_EQ(cab.CommandLine, "-a  " + q(ExpandFileName("rel.cab")) + " " + q(F + "/") + " \"m1\" ");

    TTar32 tar;
    TTgz32 tgz;
    TBZ232 bz2;
    tar.Pack(0, A, out, false, {std::string("m1")}, F, o);
    EXPECT_EQ(tar.CommandLine, "c  -f " + q(A) + " -o " + q(F + "/") + " \"m1\" ");
    tgz.Pack(0, A, out, false, {std::string("m1")}, F, o);
    EXPECT_EQ(tgz.CommandLine, "c -z  -f " + q(A) + " -o " + q(F + "/") + " \"m1\" ");
    TArchiverOptions level;
    level.jm = 5;
    bz2.Pack(0, A, out, false, {std::string("m1")}, F, level);
    EXPECT_EQ(bz2.CommandLine, "c -B5  -f " + q(A) + " -o " + q(F + "/") + " \"m1\" ");

    TBGA32 bga;
    bga.Pack(0, A, out, false, {std::string("m1")}, F, o);
    EXPECT_EQ(bga.CommandLine, "a -n -j  " + q(A) + " " + q(F + "/") + " \"m1\" ");
    bga.RemoveItems(0, A, out, false, {std::string("m1")}, F, o);
    EXPECT_EQ(bga.CommandLine, "d -n -j  " + q(A) + " \"m1\" ");
}

TEST_F(Operations, MemoryExtractionCheckAndListingCallTheirEntries)
{
    char buffer[16] = {};
    int written = -1;
    TLha32 lha;
    EXPECT_EQ(lha.ExtractMem(0, "/a.lzh", buffer, sizeof buffer, written, "dir/m.txt", o), 0);
    EXPECT_EQ(lha.CommandLine, " -+  \"/a.lzh\" \"dir/m.txt\" ");
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(written)), "recorded");
    EXPECT_EQ(g_trace.back(), "UNLHA32.DLL ExtractMem");

    TZip32 zip;
    zip.ExtractMem(0, "/a.zip", buffer, sizeof buffer, written, "m[1].txt", o);
    EXPECT_EQ(zip.CommandLine, "  \"/a.zip\" \"m[[]1].txt\" ");
    EXPECT_EQ(g_trace.back(), "UNZIP32.DLL ExtractMem");
    TCab32 cab;
    cab.ExtractMem(0, "/a.cab", buffer, sizeof buffer, written, "m", o);
    EXPECT_EQ(cab.CommandLine, "  \"/a.cab\" \"m\" ");
    TTgz32 tgz;
    tgz.ExtractMem(0, "/a.tgz", buffer, sizeof buffer, written, "m", o);
    EXPECT_EQ(tgz.CommandLine, " -z  -f \"/a.tgz\" \"m\" ");
    EXPECT_EQ(g_trace.back(), "tar32.dll ExtractMem");
    TRar32 rar;
    rar.ExtractMem(0, "/a.rar", buffer, sizeof buffer, written, "m", o);
    EXPECT_EQ(rar.CommandLine, " -u  \"/a.rar\" \"m\" ");
    EXPECT_EQ(g_trace.back(), "UNRAR32.DLL ExtractMem");

    // CheckArchive: the sum of the two integers, but ZIP's first alone.
    lha.CheckArchive("/a.lzh", 1, 16);
    EXPECT_EQ(recordedNumber(Unlha32Dll(), "RecorderLastCheckMode"), 17);
    zip.CheckArchive("/a.zip", 3, 16);
    EXPECT_EQ(recordedNumber(Unzip32Dll(), "RecorderLastCheckMode"), 3);
    EXPECT_EQ(g_trace.back(), "UNZIP32.DLL CheckArchive");

    // The listing: the path expanded, the wildcard handed on; ZIP's listing
    // entries come from LMZIP32.DLL first.
    const HARC h = zip.OpenArchive(0, "list.zip", 5);
    EXPECT_EQ(recorded(Lmzip32Dll(), "RecorderLastOpenPath"), ExpandFileName("list.zip"));
    EXPECT_EQ(recordedNumber(Lmzip32Dll(), "RecorderLastOpenMode"), 5);
    INDIVIDUALINFO info{};
    EXPECT_EQ(zip.FindFirst(h, "*.txt", &info), 0);
    EXPECT_STREQ(info.FileName, "member.txt");
    EXPECT_EQ(recorded(Lmzip32Dll(), "RecorderLastWildcard"), "*.txt");
    EXPECT_EQ(zip.FindNext(h, &info), -1);
    EXPECT_EQ(zip.CloseArchive(h), 0);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"UNLHA32.DLL ExtractMem", "UNZIP32.DLL ExtractMem",
                                                 "CAB32.DLL ExtractMem", "tar32.dll ExtractMem",
                                                 "UNRAR32.DLL ExtractMem", "UNLHA32.DLL CheckArchive",
                                                 "UNZIP32.DLL CheckArchive", "LMZIP32.DLL OpenArchive",
                                                 "LMZIP32.DLL FindFirst", "LMZIP32.DLL FindNext",
                                                 "LMZIP32.DLL CloseArchive"}));
    TArj32 arj;
    arj.CheckArchive("/a.arj", 2, 0);
    EXPECT_EQ(g_trace.back(), "UNARJ32J.DLL CheckArchive");
}

TEST_F(Operations, ResponseFilesFollowEachOperationsRule)
{
    TempDir dir;
    o.ResFileName = dir / "list.txt";
    const std::string at = "\"@" + o.ResFileName + "\"";
    TLha32 lha;
    // The defaults: packing, extraction and deletion use the file; update does not.
    lha.Pack(0, "/a.lzh", out, false, {std::string("m1")}, "/f", o);
    EXPECT_EQ(lha.CommandLine, "u -+  \"/a.lzh\" \"/f/\" " + at + " ");
    EXPECT_EQ(ReadFile(o.ResFileName), "\"m1\"\r\n");
    lha.UpdateItems(0, "/a.lzh", out, true, {std::string("m2")}, "/f", o);
    EXPECT_EQ(lha.CommandLine, "f -+  \"/a.lzh\" \"/f/\" \"m2\" ");
    lha.RemoveItems(0, "/a.lzh", out, false, {std::string("m3")}, "/f", o);
    EXPECT_EQ(lha.CommandLine, "d -+  \"/a.lzh\" " + at + " ");
    // ZIP and BGA's creation take the flag their caller hands in; BGA's
    // deletion takes ruOnRemoveItem.
    TZip32 zip;
    zip.Pack(0, "/a.zip", out, true, {std::string("m4")}, "/f", o);
    EXPECT_EQ(zip.CommandLine, " -D  \"/a.zip\" \"/f/\" " + at + " ");
    zip.Pack(0, "/a.zip", out, false, {std::string("m4")}, "/f", o);
    EXPECT_EQ(zip.CommandLine, " -D  \"/a.zip\" \"/f/\" \"m4\" ");
    TBGA32 bga;
    bga.Pack(0, "/a.gza", out, false, {std::string("m5")}, "/f", o);
    EXPECT_EQ(bga.CommandLine, "a -n -j  \"/a.gza\" \"/f/\" \"m5\" ");
    o.ResFileUsage = {};
    bga.RemoveItems(0, "/a.gza", out, true, {std::string("m6")}, "", o);
    EXPECT_EQ(bga.CommandLine, "d -n -j  \"/a.gza\" \"m6\" ");
    o.ResFileUsage = {ruOnPack};
    TTar32 tar;
    tar.Pack(0, "/a.tar", out, false, {std::string("m7")}, "/f", o);
    EXPECT_EQ(tar.CommandLine, "c  -f \"/a.tar\" -o \"/f/\" " + at + " ");
}

TEST_F(Operations, WhatABackEndDoesNotOfferRaisesItsMessage)
{
    const char* pack = "この形式では書庫ファイルの作成をサポートしておりません。";
    const char* remove = "この形式の書庫ではファイルの削除をサポートしておりません。";
    const char* update = "この形式の書庫では書庫の更新をサポートしておりません。";
    const char* sfx = "この形式では自己解凍書庫の作成をサポートしておりません。";
    const char* mem = "この形式ではメモリへの展開をサポートしておりません。";
    char buffer[4];
    int written = 0;
    const int calls = recordedNumber(Unrar32Dll(), "RecorderCalls");
    TRar32 rar;
    EXPECT_EQ(ArchiverMessage([&] { rar.Pack(0, "a", out, false, files, "", o); }), pack);
    EXPECT_EQ(ArchiverMessage([&] { rar.RemoveItems(0, "a", out, false, files, "", o); }), remove);
    EXPECT_EQ(ArchiverMessage([&] { rar.UpdateItems(0, "a", out, false, files, "", o); }), update);
    EXPECT_EQ(ArchiverMessage([&] { rar.MakeSfx(0, "a", out, "", o); }), sfx);
    TCab32 cab;
    TTar32 tar;
    for (TArchiver* a : std::initializer_list<TArchiver*>{&cab, &tar}) {
        EXPECT_EQ(ArchiverMessage([&] { a->RemoveItems(0, "a", out, false, files, "", o); }), remove);
        EXPECT_EQ(ArchiverMessage([&] { a->UpdateItems(0, "a", out, false, files, "", o); }), update);
    }
    TBGA32 bga;
    EXPECT_EQ(ArchiverMessage([&] { bga.UpdateItems(0, "a", out, false, files, "", o); }), update);
    EXPECT_EQ(ArchiverMessage([&] { bga.ExtractMem(0, "a", buffer, 4, written, "m", o); }), mem);
    EXPECT_EQ(recordedNumber(Unrar32Dll(), "RecorderCalls"), calls);
}

TEST_F(Operations, ArjTellsTheLhaLibraryFirstAndForgetsItLast)
{
    TArj32 arj;
    arj.SetOwnerWindow(0x1234);
    arj.KillOwnerWindow(0x1234);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"UNLHA32.DLL SetOwnerWindowEx", "UNARJ32J.DLL SetOwnerWindowEx",
                                                 "UNARJ32J.DLL KillOwnerWindowEx", "UNLHA32.DLL KillOwnerWindowEx"}));
}

namespace {

// arcx from bin/zipsets/NAME, run in a fresh folder.
RunResult arcxWith(const std::string& set, const TempDir& dir, const std::string& arguments)
{
    const std::string arcx = ProgramFolder() + "../zipsets/" + set + "/arcx";
    return runCommand("cd " + shellQuote(dir.Path()) + " && QT_QPA_PLATFORM=offscreen " + shellQuote(arcx) + " "
                      + arguments + " 2>&1");
}

} // namespace

TEST_F(Operations, ZipLibrariesAreLookedUpInTheirOrders)
{
    if (!FileExists(ProgramFolder() + "../zipsets/lmzip/arcx"))
        GTEST_SKIP() << "no zipsets";
    TempDir dir;
    WriteFile(dir / "a.zip", "old archive");
    std::filesystem::create_directories(dir / "src"); // the folder packed from (no m1 in it)

    // Only LMZIP32.DLL: creation deletes the old archive and runs "-ru".
    RunResult r = arcxWith("lmzip", dir, "--opt x=0 pack a.zip src m1");
    EXPECT_NE(r.out.find("CommandLine=-ru -j  \"a.zip\" \"m1\" \n"), std::string::npos) << r.out;
    EXPECT_FALSE(FileExists(dir / "a.zip"));
    // ... and extracts through its "Unzip" entry.
    WriteFile(dir / "a.zip", "old archive");
    r = arcxWith("lmzip", dir, "a.zip out");
    EXPECT_NE(r.out.find("CommandLine=-x  \"a.zip\" \"out/\" "), std::string::npos) << r.out;

    // Only UNZIP32.DLL: no creation; the message names both libraries.
    r = arcxWith("unzip", dir, "pack a.zip src m1");
    EXPECT_NE(r.out.find("EArchiver: ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(FileExists(dir / "a.zip"));
    // Deletion needs "Zip", which UNZIP32.DLL does not have.
    r = arcxWith("unzip", dir, "remove a.zip m1");
    EXPECT_NE(r.out.find("EArchiver: Zip のエントリが見つかりません。"), std::string::npos) << r.out;

    // Only ZIP32J.DLL: creation, but no extraction.
    r = arcxWith("zip32j", dir, "pack a.zip src m1");
    EXPECT_NE(r.out.find("CommandLine= -D  \"a.zip\" \"src/\" \"m1\" "), std::string::npos) << r.out;
    r = arcxWith("zip32j", dir, "a.zip out");
    EXPECT_NE(r.out.find("EArchiver: ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。"),
              std::string::npos)
        << r.out;
    // ZIP32J.DLL before LMZIP32.DLL for creation, and the listing from the
    // library that has its entries.
    r = arcxWith("unzip-zip32j", dir, "pack a.zip src m1");
    EXPECT_NE(r.out.find("CommandLine= -D "), std::string::npos) << r.out;
    r = arcxWith("unzip-lmzip", dir, "pack a.zip src m1");
    EXPECT_NE(r.out.find("CommandLine=-ru  \"a.zip\" \"m1\" "), std::string::npos) << r.out;
    // A self-extracting ZIP needs ZIP32J.DLL.
    WriteFile(dir / "a.zip", "old archive");
    r = arcxWith("unzip-lmzip", dir, "sfx a.zip");
    EXPECT_NE(r.out.find("EArchiver: ZIP 形式書庫からの自己解凍書庫作成には ZIP32J.DLL が必要です。"),
              std::string::npos)
        << r.out;
}

TEST_F(Operations, SelfExtractingFilesByConcatenationAndByTheLibraries)
{
    TempDir dir;
    const std::string old = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(dir.Path()));
    struct Back {
        std::string to;
        ~Back() { SetCurrentDir(to); }
    } back{old};

    // No stubs beside the program or in the current directory.
    TZip32 zip;
    TTgz32 tgz;
    TBZ232 bz2;
    WriteFile(dir / "a.zip", "zip data");
    WriteFile(dir / "a.tgz", "tgz data");
    EXPECT_EQ(ArchiverMessage([&] { zip.MakeSfx(0, dir / "a.zip", out, "", o); }),
              "zip 書庫からのDOS自己解凍書庫の作成には sfx16.dat が必要です。");
    TArchiverOptions gui;
    gui.gw = 1;
    EXPECT_EQ(ArchiverMessage([&] { zip.MakeSfx(0, dir / "a.zip", out, "", gui); }),
              "zip 書庫からのWin32自己解凍書庫の作成には sfx32gui.dat が必要です。");
    EXPECT_EQ(ArchiverMessage([&] { tgz.MakeSfx(0, dir / "a.tgz", out, "", o); }),
              "tar/tgz 書庫からの自己解凍書庫の作成には kmtarsef.exe が必要です。");
    EXPECT_EQ(ArchiverMessage([&] { bz2.MakeSfx(0, dir / "a.tgz", out, "", o); }),
              "BZ2 形式書庫は自己解凍形式にできません。");

    // Stubs in the current directory: stub, then archive; ZIP then runs -A.
    WriteFile(dir / "sfx16.dat", "console stub|");
    WriteFile(dir / "sfx32gui.dat", "window stub|");
    WriteFile(dir / "kmtarsef.exe", "tar stub|");
    EXPECT_EQ(zip.MakeSfx(0, dir / "a.zip", out, "", o), 0);
    EXPECT_EQ(ReadFile(dir / "a.EXE"), "console stub|zip data");
    EXPECT_EQ(zip.CommandLine, "-A " + (dir / "a.EXE"));
    EXPECT_EQ(g_trace.back(), "ZIP32J.DLL Zip");
    struct stat st {};
    ASSERT_EQ(stat((dir / "a.EXE").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    std::filesystem::create_directory(dir / "out");
    EXPECT_EQ(zip.MakeSfx(0, dir / "a.zip", out, dir / "out", gui), 0);
    EXPECT_EQ(ReadFile(dir / "out/a.EXE"), "window stub|zip data");
    EXPECT_EQ(tgz.MakeSfx(0, dir / "a.tgz", out, dir / "out/", o), 0);
    EXPECT_EQ(ReadFile(dir / "out/a.EXE"), "tar stub|tgz data");
    EXPECT_EQ(ArchiverMessage([&] { bz2.MakeSfx(0, dir / "a.tgz", out, "", o); }),
              "BZ2 形式書庫は自己解凍形式にできません。");
    // An output that cannot be made raises the file-creation error.
    EXPECT_THROW(tgz.MakeSfx(0, dir / "a.tgz", out, dir / "missing", o), EFCreateError);

    // The libraries' own commands.
    TLha32 lha;
    lha.MakeSfx(0, "/a.lzh", out, "/f", o);
    EXPECT_EQ(lha.CommandLine, "s -+  \"/a.lzh\" \"/f/\" ");
    TArj32 arj;
    arj.MakeSfx(0, "/a.arj", out, "", o);
    EXPECT_EQ(recorded(Unlha32Dll()), "s -+  \"/a.arj\" ");
    TCab32 cab;
    cab.MakeSfx(0, "/a.cab", out, "/f", o);
    EXPECT_EQ(cab.CommandLine, "-f  \"/a.cab\" \"/f/\" ");
    TBGA32 bga;
    bga.MakeSfx(0, "/a.gza", out, "/f", o);
    EXPECT_EQ(bga.CommandLine, "s -n -j  \"/a.gza\" \"/f/\" ");
}
