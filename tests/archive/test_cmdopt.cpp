// The builder, the option set, the file list, detection by extension and the
// component's type selection: no library is needed for any of these.
#include "test_archive.h"

#include "archive/ZIP32.h"
#include "runtime/SysUtils.h"

using namespace archive_test;

TEST(Builder, TokensFollowTheirRules)
{
    TCmdOpt b;
    b.AddInt("x", -1);
    EXPECT_EQ(b.Text, "");
    b.AddInt("x", 1);
    b.AddInt("x", -2);
    b.AddInt("-use-directory=", 0);
    EXPECT_EQ(b.Text, " -x1 -x-2 --use-directory=0");

    b.Text.clear();
    b.AddFlag("o", false);
    b.AddFlag("-i", true);
    b.Add("");
    EXPECT_EQ(b.Text, " --i ");

    b.Text.clear();
    b.AddStr("jo", UnsetMarker);
    EXPECT_EQ(b.Text, "");
    b.AddStr("jo", "abc");
    b.AddStr("", "");
    b.AddStr(" r", "v");
    EXPECT_EQ(b.Text, " \"-joabc\" \"\" \"rv\"");

    b.Text.clear();
    b.SeparateValue = true;
    b.AddStr("f", "a b.tar");
    b.AddStr(" g", "x");
    EXPECT_EQ(b.Text, " -f \"a b.tar\" g \"x\"");
}

TEST(Builder, FoldersGetOneTrailingSlash)
{
    TCmdOpt b;
    b.AddDir("", "");
    b.AddDir("", UnsetMarker);
    EXPECT_EQ(b.Text, "");
    b.AddDir("", "/out");
    b.AddDir("", "/out/");
    b.AddDir("w", "/tmp/作業");
    EXPECT_EQ(b.Text, " \"/out/\" \"/out/\" \"-w/tmp/作業/\"");
}

TEST(Builder, FileListGoesInlineOrToTheResponseFile)
{
    TempDir dir;
    TArchiverOptions o;
    TCmdOpt inlineList;
    inlineList.NameFilter = ZipNameFilter;
    inlineList.AddFileList(o, true, {"a\\b[1].txt", "日本語.txt"});
    EXPECT_EQ(inlineList.Text, " \"a/b[[]1].txt\" \"日本語.txt\" ");

    o.ResFileName = dir / "list.txt";
    o.UserFileList = "extra";
    TCmdOpt viaFile;
    viaFile.AddFileList(o, true, {"one", "two three"});
    EXPECT_EQ(viaFile.Text, " \"@" + o.ResFileName + "\" extra");
    EXPECT_EQ(ReadFile(o.ResFileName), "\"one\"\r\n\"two three\"\r\n");

    // Replaced, and made even for an empty list.
    TCmdOpt empty;
    empty.AddFileList(o, true, {});
    EXPECT_EQ(ReadFile(o.ResFileName), "");

    // Not asked for: the items stay on the line.
    TCmdOpt notAsked;
    notAsked.AddFileList(o, false, {"one"});
    EXPECT_EQ(notAsked.Text, " \"one\" extra");

    TCmdOpt unwritable;
    o.ResFileName = dir / "missing/list.txt";
    try {
        unwritable.AddFileList(o, true, {"x"});
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "ファイル " + o.ResFileName + " を作成できません");
    }
    EXPECT_EQ(unwritable.Text, "");
}

TEST(Builder, OptionSetDefaultsResetAndNames)
{
    TArchiverOptions o;
    EXPECT_EQ(o.a, -1);
    EXPECT_EQ(o.gw, -1);
    EXPECT_EQ(o.w, UnsetMarker);
    EXPECT_EQ(o.gr, UnsetMarker);
    EXPECT_TRUE(o.UserOptions.empty());
    EXPECT_EQ(o.PackFilter, pfComponent);
    EXPECT_EQ(o.ResFileUsage, (TResFileUsage{ruOnPack, ruOnUnpack, ruOnRemoveItem}));
    EXPECT_EQ(o.ResFileUsage.Bits(), 7);

    o.SetProperty("x", "1");
    o.SetProperty("jss", "-128");
    o.SetProperty("jo", "abc");
    o.SetProperty("jx", "a.txt");
    o.SetProperty("jx", "b.txt");
    o.SetProperty("ResFileUsage", "[ruOnUpdate, ruOnUnpack]");
    o.SetProperty("PackFilter", "pfArchiver");
    EXPECT_EQ(o.x, 1);
    EXPECT_EQ(o.GetProperty("jss"), "-128");
    EXPECT_EQ(o.GetProperty("jx"), "a.txt\r\nb.txt");
    EXPECT_EQ(o.GetProperty("ResFileUsage"), "[ruOnUnpack,ruOnUpdate]");
    EXPECT_FALSE(ArchiverMessage([&] { o.SetProperty("x", "128"); }).empty());
    EXPECT_FALSE(ArchiverMessage([&] { o.SetProperty("q", "1"); }).empty());
    EXPECT_FALSE(ArchiverMessage([&] { o.SetProperty("ResFileUsage", "[ruNever]"); }).empty());
    EXPECT_THROW(o.SetProperty("a", "one"), EConvertError);

    TArchiverOptions copy;
    copy.Assign(o);
    EXPECT_EQ(copy.jx.Count(), 2);
    EXPECT_EQ(copy.jo, "abc");
    o.Reset();
    EXPECT_EQ(o.jx.Count(), 0);
    EXPECT_EQ(o.x, -1);
    EXPECT_EQ(o.jo, UnsetMarker);
    EXPECT_EQ(copy.jx.Count(), 2);
    EXPECT_EQ(TArchiverOptions::PropertyNames().size(), 58u);
}

TEST(Builder, FileListItemsOfEveryKind)
{
    TStringList lines;
    lines.Add("l1");
    lines.Add("l2");
    const char* array[] = {"a1", "a2", nullptr};
    const char* const* noArray = nullptr;
    const char* noText = nullptr;
    const auto items = FileListItems({nullptr, "c", std::string("s"), lines, &lines, array, noArray,
                                      std::vector<std::string>{"v1", "v2"}, std::wstring(L"w\u65e5"), noText});
    const std::vector<std::string> expected = {"c", "s", "l1", "l2", "l1", "l2", "a1", "a2", "v1", "v2", "w日", ""};
    EXPECT_EQ(items, expected);
    EXPECT_TRUE(FileListItems({nullptr}).empty());
}

TEST(Builder, DetectionByExtension)
{
    const std::pair<const char*, TArchiverType> cases[] = {
        {"A.LZH", atLha},      {"x/a.lzh", atLha},  {"a.lha", atNone},  {"a.zip", atZip},   {"a.Cab", atCab},
        {"a.arj", atArj},      {"a.tar", atTar},    {"a.tar.gz", atTgz}, {"a.tgz", atTgz},  {"a.TAZ", atTgz},
        {"a.Z", atTgz},        {"a.tar.bz2", atBZ2}, {"a.bz2", atBZ2},  {"a.rar", atRar},   {"a.gza", atBga},
        {"a.BZA", atBga},      {"noext", atNone},   {"a.txt", atNone},  {"dir.zip/a", atNone},
    };
    for (const auto& [name, type] : cases) {
        EXPECT_EQ(DetectArchiverType(name), type) << name;
        EXPECT_EQ(ArchiverTypeByName(name), type) << name;
    }
    // A self-extracting archive is told by its content, which the name
    // alone leaves open.
    EXPECT_EQ(ArchiverTypeByName("setup.EXE"), atAutoDetect);
    EXPECT_EQ(ArchiverTypeByName("setup.exe.txt"), atNone);
}

TEST(Builder, ComponentTypeSelectionWithoutLibraries)
{
    TArchiveFile f;
    EXPECT_EQ(f.FileName(), UnsetMarker);
    EXPECT_EQ(f.ArchiverType(), atAutoDetect);
    EXPECT_EQ(f.Archiver(), nullptr);
    f.SetFileName("a.lha");
    EXPECT_EQ(f.FileName(), "a.lha");
    EXPECT_EQ(f.ArchiverType(), atAutoDetect);
    EXPECT_EQ(ArchiverMessage([&] { f.Extract(0, nullptr, "/tmp", {nullptr}); }), "書庫の形式を判別できません。");
    EXPECT_EQ(ArchiverMessage([&] { f.SetArchiverType(atYz1); }), "書庫の形式を特定できませんでした。");
    EXPECT_EQ(f.ArchiverType(), atAutoDetect);

    f.SetState(csReading, true);
    f.SetArchiverType(atYz1);
    EXPECT_EQ(f.ArchiverType(), atYz1);
    f.SetState(csReading, false);
    f.SetState(csDesigning, true);
    f.SetArchiverType(atLha); // no library is loaded while designing
    EXPECT_EQ(f.ArchiverType(), atLha);
    EXPECT_EQ(f.Archiver(), nullptr);

    f.SetOutputSize(8);
    EXPECT_EQ(f.OutputSize(), 8);
    EXPECT_EQ(f.Output()[0], '\0');
    f.SetOutputSize(0);
    EXPECT_EQ(f.OutputSize(), 0);
}

TEST(Builder, BaseOperationsRaiseTheirMessages)
{
    struct Bare : TArchiver {
        int Extract(HWND, const std::string&, TOutputBuffer&, bool, const TFileList&, const std::string&,
                    const TArchiverOptions&) override
        {
            return 0;
        }
    } bare;
    TOutputBuffer out;
    TArchiverOptions o;
    int written = 0;
    EXPECT_EQ(ArchiverMessage([&] { bare.LoadDLL(); }), "Abstract method 'TArchiver.LoadDLL' was called");
    EXPECT_EQ(ArchiverMessage([&] { bare.ReloadDLL(); }), "Abstract method 'TArchiver.LoadDLL' was called");
    EXPECT_EQ(ArchiverMessage([&] { bare.FreeDLL(); }), "Abstract method 'TArchiver.FreeDLL' was called");
    EXPECT_EQ(ArchiverMessage([&] { bare.Pack(0, "a", out, false, {}, "", o); }),
              "この形式では書庫ファイルの作成をサポートしておりません。");
    EXPECT_EQ(ArchiverMessage([&] { bare.RemoveItems(0, "a", out, false, {}, "", o); }),
              "この形式の書庫ではファイルの削除をサポートしておりません。");
    EXPECT_EQ(ArchiverMessage([&] { bare.UpdateItems(0, "a", out, false, {}, "", o); }),
              "この形式の書庫では書庫の更新をサポートしておりません。");
    EXPECT_EQ(ArchiverMessage([&] { bare.MakeSfx(0, "a", out, "", o); }),
              "この形式では自己解凍書庫の作成をサポートしておりません。");
    EXPECT_EQ(ArchiverMessage([&] { bare.ExtractMem(0, "a", nullptr, 0, written, "m", o); }),
              "この形式ではメモリへの展開をサポートしておりません。");
    EXPECT_EQ(ArchiverMessage([&] { bare.CheckArchive("a", 0, 0); }),
              "この形式では書庫チェック機能をサポートしておりません。");
    EXPECT_EQ(bare.OpenArchive(0, "a", 0), 0u);
    EXPECT_EQ(bare.FindFirst(0, "*", nullptr), -1);
    EXPECT_EQ(bare.FindNext(0, nullptr), -1);
    EXPECT_EQ(bare.CloseArchive(0), 0);
    EXPECT_FALSE(bare.SetOwnerWindow(42));
    EXPECT_EQ(bare.OwnerWindow, 42u);
    EXPECT_FALSE(bare.KillOwnerWindow(42));
    EXPECT_EQ(bare.OwnerWindow, 0u);
}

TEST(Builder, LibraryLoaderBasics)
{
    EXPECT_EQ(LoadLibraryA("NO_SUCH_LIBRARY_ANYWHERE.DLL"), nullptr);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
    char path[4096];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::string(path), ProgramFolder() + "test_archive");
    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 4u);
    EXPECT_EQ(std::string(small), std::string(path, 4));

    // A system library by its bare name, resolved to the file it came from.
    HMODULE libz = LoadLibraryA("libz.so.1");
    ASSERT_NE(libz, nullptr);
    EXPECT_NE(GetProcAddress(libz, "crc32"), nullptr);
    EXPECT_EQ(GetProcAddress(libz, "NoSuchEntry"), nullptr);
    ASSERT_GT(GetModuleFileNameA(libz, path, sizeof path), 0u);
    EXPECT_NE(std::string(path).find("libz.so"), std::string::npos);
}
