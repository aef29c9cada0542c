// Missing libraries and missing entries (run from bin/nolibs/, where no
// archiver library lies beside the program; entry-less stand-ins wait in
// bin/nolibs/bogus/ and are reached as the current directory).
#include "test_archive.h"

#include "archive/CAB32.h"
#include "archive/ZIP32.h"
#include "platform/FileNames.h"

using namespace archive_test;

TEST(NoLibs, MissingLibrariesAndEntries)
{
    if (FileExists(ProgramFolder() + "UNLHA32.DLL") || !DirectoryExists(ProgramFolder() + "bogus"))
        GTEST_SKIP() << "this folder is not the one without libraries";
    TempDir dir;
    const std::string saved = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(dir.Path()));

    const std::pair<const char*, const char*> cases[] = {
        {"a.lzh", "Lha 形式書庫を扱うには UNLHA32.DLL が 必要です。"},
        {"a.zip", "ZIP 形式書庫を解凍するには UNZIP32.DLL が、作成するには ZIP32J.DLL が必要です。"},
        {"a.cab", "CAB 形式書庫を扱うには CAB32.DLL が 必要です。"},
        {"a.arj", "ARJ 形式書庫を扱うには UNARJ32J.DLL が 必要です。"},
        {"a.tar", "tar/tgz/taz/bz2 形式書庫を扱うには tar32.dll が 必要です。"},
        {"a.tgz", "tar/tgz/taz/bz2 形式書庫を扱うには tar32.dll が 必要です。"},
        {"a.bz2", "tar/tgz/taz/bz2 形式書庫を扱うには tar32.dll が 必要です。"},
        {"a.rar", "この機能の使用には UNRAR32.DLL が 必要です。"},
        {"a.bza", "Bga 形式書庫を扱うには BGA32.DLL が 必要です。"},
    };
    TArchiveFile f;
    for (const auto& [name, message] : cases) {
        EXPECT_EQ(ArchiverMessage([&] { f.SetFileName(name); }), message) << name;
        // The setter failed: nothing changed.
        EXPECT_EQ(f.FileName(), UnsetMarker);
        EXPECT_EQ(f.ArchiverType(), atAutoDetect);
        EXPECT_EQ(f.Archiver(), nullptr);
    }
    // Detection by content counts every failure as "no".
    WriteFile(dir / "setup.exe", "MZ whatever");
    EXPECT_EQ(DetectArchiverType(dir / "setup.exe"), atNone);

    // From the bogus folder the lower-case "cab32.dll" and "unzip32.dll" are
    // found for "CAB32.DLL" and "UNZIP32.DLL"; they have no entries.
    ASSERT_TRUE(SetCurrentDir(ProgramFolder() + "bogus"));
    f.SetFileName(dir / "a.cab");
    EXPECT_EQ(f.ArchiverType(), atCab);
    EXPECT_EQ(ArchiverMessage([&] { f.Extract(0, nullptr, dir.Path(), {nullptr}); }),
              ProgramFolder() + "bogus/cab32.dll に Cab のエントリが見つかりません。");
    EXPECT_EQ(f.CommandLine(), "-x  \"" + (dir / "a.cab") + "\" \"" + dir.Path() + "/\" ");

    // A failed change keeps the name, the kind and the back-end.
    TArchiver* cab = f.Archiver();
    EXPECT_EQ(ArchiverMessage([&] { f.SetFileName(dir / "a.lzh"); }), "Lha 形式書庫を扱うには UNLHA32.DLL が 必要です。");
    EXPECT_EQ(f.Archiver(), cab);
    EXPECT_EQ(f.ArchiverType(), atCab);
    EXPECT_EQ(f.FileName(), dir / "a.cab");

    f.SetFileName(dir / "a.zip");
    EXPECT_EQ(ArchiverMessage([&] { f.Extract(0, nullptr, dir.Path(), {nullptr}); }),
              "UnZip のエントリが見つかりません。");
    // Hooking progress fails quietly without the owner-window entries.
    int calls = 0;
    f.OnProgress = [&](TObject*, int, LPEXTRACTINGINFOEX, bool&) { ++calls; };
    EXPECT_EQ(ArchiverMessage([&] { f.Extract(0, nullptr, dir.Path(), {nullptr}); }),
              "UnZip のエントリが見つかりません。");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(f.Archiver()->OwnerWindow, 0u);

    char path[257];
    ASSERT_GT(GetModuleFileNameA(Cab32Dll().Handle(), path, sizeof path), 0u);
    EXPECT_EQ(std::string(path), ProgramFolder() + "bogus/cab32.dll");
    ASSERT_TRUE(SetCurrentDir(saved));
}
