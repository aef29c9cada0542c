// Extraction of real archives (the samples and archives made on the spot by
// zip, arj, gcab, tar, gzip and bzip2) and recognition of each kind.
#include "ArchiverHarness.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::string ZipLine(const std::string& archive, const std::string& dest, const std::string& switches = "")
{
    return "-x " + switches + " \"" + archive + "\" \"" + dest + "/\" ";
}

Tree Flatten(const Tree& tree)
{
    Tree flat;
    for (auto& [path, facts] : tree)
        flat[path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1)] = facts;
    return flat;
}

// Compress (.Z) files: no archiver on the machine makes them, libarchive does.
void WriteCompressed(const std::string& path, const std::string& name, const std::string& data, bool tar)
{
    archive* a = archive_write_new();
    archive_write_add_filter_compress(a);
    if (tar)
        archive_write_set_format_ustar(a);
    else
        archive_write_set_format_raw(a);
    archive_write_open_filename(a, path.c_str());
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, name.c_str());
    archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    archive_write_header(a, e);
    archive_write_data(a, data.data(), data.size());
    archive_entry_free(e);
    archive_write_close(a);
    archive_write_free(a);
}

} // namespace

TEST(Extract, SamplesMatchTheirManifests)
{
    struct Case {
        const char* file;
        ArchiverLib& lib;
        bool lineLikeLha;
    } cases[] = {
        {"lha_header0.lzh", Unlha(), true}, {"lha_lh0.lzh", Unlha(), true},  {"lha_lh6.lzh", Unlha(), true},
        {"lha_lh7.lzh", Unlha(), true},     {"cab_2.cab", Cab(), false},     {"cab_3.cab", Cab(), false},
        {"rar.rar", Unrar(), false},        {"rar5_compressed.rar", Unrar(), false},
        {"zip_filename_cp932.zip", Unzip(), false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir out;
        std::string archive = SamplesDir() + "/" + c.file;
        std::string log;
        int rc = c.lib.Run(c.lineLikeLha ? ExtractLine(archive, out.path()) : ZipLine(archive, out.path()), &log);
        EXPECT_EQ(rc, 0) << log;
        EXPECT_EQ(TreeOf(out.path()), ReadManifest(archive + ".manifest"));
        EXPECT_TRUE(c.lib.Detects(archive));
        EXPECT_NE(c.lib.check(archive.c_str(), 16), 0);
    }
}

TEST(Extract, ZipMadeByZipWithAndWithoutFolders)
{
    TempDir src, work, out, flat, some;
    MakeSourceTree(src.path());
    ASSERT_EQ(Shell(src.path(), "zip -q -r " + Quote(work / "a.zip") + " ."), 0);
    std::string log;
    EXPECT_EQ(Unzip().Run(ZipLine(work / "a.zip", out.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(out.path()), TreeOf(src.path()));

    EXPECT_EQ(Unzip().Run(ZipLine(work / "a.zip", flat.path(), "-j"), &log), 0) << log;
    EXPECT_EQ(TreeOf(flat.path()), Flatten(TreeOf(src.path())));

    // Member names and wildcards select what is extracted.
    EXPECT_EQ(Unzip().Run(ZipLine(work / "a.zip", some.path()) + "\"sub/deep/*\" zeros.bin", &log), 0) << log;
    Tree expected = TreeOf(src.path());
    std::erase_if(expected, [](auto& e) { return e.first != "zeros.bin" && e.first.rfind("sub/deep/", 0) != 0; });
    EXPECT_EQ(TreeOf(some.path()), expected);
    // The same names through a response file, as the component writes it.
    TempDir viaFile;
    WriteFile(work / "names.txt", "\"sub/deep/*\"\r\n\"zeros.bin\"\r\n");
    EXPECT_EQ(Unzip().Run(ZipLine(work / "a.zip", viaFile.path()) + "@\"" + (work / "names.txt") + "\" ", &log), 0)
        << log;
    EXPECT_EQ(TreeOf(viaFile.path()), expected);
    TempDir none;
    EXPECT_EQ(Unzip().Run(ZipLine(work / "a.zip", none.path()) + "nothing.txt"), ARCERR_NO_FILES);
    EXPECT_EQ(Unzip().Run(ZipLine(work / "a.zip", none.path()) + "@" + (work / "missing.txt")), ARCERR_RESPONSE);
}

TEST(Extract, ArjEveryMethodMadeByArj)
{
    TempDir src, work;
    MakeSourceTree(src.path());
    Shell(src.path(), "rm -f sub/日本語.txt"); // arj keeps names as bytes; covered by the CP932 case
    for (int method = 0; method <= 4; ++method) {
        SCOPED_TRACE("method " + std::to_string(method));
        std::string archive = work / ("m" + std::to_string(method) + ".arj");
        ASSERT_EQ(Shell(src.path(), "arj a -m" + std::to_string(method) + " -r -y " + Quote(archive) + " '*'"), 0);
        TempDir out, flat;
        std::string log;
        EXPECT_EQ(Unarj().Run(ExtractLine(archive, out.path()), &log), 0) << log;
        EXPECT_EQ(TreeOf(out.path()), TreeOf(src.path()));
        EXPECT_EQ(Unarj().Run("e \"" + archive + "\" \"" + flat.path() + "/\"", &log), 0) << log;
        EXPECT_EQ(TreeOf(flat.path()), Flatten(TreeOf(src.path())));
        EXPECT_TRUE(Unarj().Detects(archive));
        EXPECT_NE(Unarj().check(archive.c_str(), 2), 0);
    }
    // The modification time comes back.
    TempDir out;
    Unarj().Run(ExtractLine(work / "m1.arj", out.path()));
    struct stat a {}, b {};
    stat((src / "words.txt").c_str(), &a);
    stat((out / "words.txt").c_str(), &b);
    EXPECT_LE(std::abs(static_cast<long>(a.st_mtime - b.st_mtime)), 2);
}

TEST(Extract, CabMadeByGcab)
{
    TempDir src, work, out;
    MakeSourceTree(src.path());
    ASSERT_EQ(Shell(src.path(), "gcab -c -z " + Quote(work / "a.cab") + " words.txt zeros.bin random.bin sub/deep/notes.txt"), 0);
    std::string log;
    EXPECT_EQ(Cab().Run(ZipLine(work / "a.cab", out.path()), &log), 0) << log;
    Tree expected = TreeOf(src.path());
    expected.erase("empty");
    expected.erase("sub/日本語.txt");
    EXPECT_EQ(TreeOf(out.path()), expected);
}

TEST(Extract, TarFamilyAndPlainCompressedFiles)
{
    TempDir src, work;
    MakeSourceTree(src.path());
    ASSERT_EQ(Shell(src.path(), "tar cf " + Quote(work / "a.tar") + " ."), 0);
    ASSERT_EQ(Shell(src.path(), "tar czf " + Quote(work / "a.tgz") + " ."), 0);
    ASSERT_EQ(Shell(src.path(), "tar cjf " + Quote(work / "a.tar.bz2") + " ."), 0);
    ASSERT_EQ(Shell(work.path(), "gzip -c " + Quote(src / "words.txt") + " > words.txt.gz"), 0);
    ASSERT_EQ(Shell(work.path(), "bzip2 -c " + Quote(src / "random.bin") + " > random.bin.bz2"), 0);

    auto type = reinterpret_cast<ARC_TARGETARCHIVETYPE>(Tar().Entry("GetArchiveType"));
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type((work / "a.tar").c_str()), 1);
    EXPECT_EQ(type((work / "a.tgz").c_str()), 2);
    EXPECT_EQ(type((work / "words.txt.gz").c_str()), 3);
    EXPECT_EQ(type((work / "random.bin.bz2").c_str()), 6);
    EXPECT_EQ(type((work / "a.tar.bz2").c_str()), 7);
    EXPECT_EQ(type((SamplesDir() + "/rar.rar").c_str()), 0);
    EXPECT_EQ(type((work / "missing.tar").c_str()), -1);

    for (const char* name : {"a.tar", "a.tgz", "a.tar.bz2"}) {
        SCOPED_TRACE(name);
        TempDir out, flat;
        std::string log;
        EXPECT_EQ(Tar().Run(TarExtractLine(work / name, out.path()), &log), 0) << log;
        EXPECT_EQ(TreeOf(out.path()), TreeOf(src.path()));
        EXPECT_EQ(Tar().Run(TarExtractLine(work / name, flat.path(), 0), &log), 0) << log;
        EXPECT_EQ(TreeOf(flat.path()), Flatten(TreeOf(src.path())));
        EXPECT_TRUE(Tar().Detects(work / name));
    }
    TempDir out;
    EXPECT_EQ(Tar().Run(TarExtractLine(work / "words.txt.gz", out.path())), 0);
    EXPECT_EQ(Tar().Run(TarExtractLine(work / "random.bin.bz2", out.path())), 0);
    EXPECT_EQ(ReadFile(out / "words.txt"), ReadFile(src / "words.txt"));
    EXPECT_EQ(ReadFile(out / "random.bin"), ReadFile(src / "random.bin"));
    WriteCompressed(work / "a.taz", "dir/inside.txt", ReadFile(src / "words.txt"), true);
    WriteCompressed(work / "plain.txt.Z", "", ReadFile(src / "words.txt"), false);
    EXPECT_EQ(type((work / "a.taz").c_str()), 4);
    EXPECT_EQ(type((work / "plain.txt.Z").c_str()), 5);
    EXPECT_EQ(Tar().Run(TarExtractLine(work / "a.taz", out.path())), 0);
    EXPECT_EQ(Tar().Run(TarExtractLine(work / "plain.txt.Z", out.path())), 0);
    EXPECT_EQ(ReadFile(out / "dir/inside.txt"), ReadFile(src / "words.txt"));
    EXPECT_EQ(ReadFile(out / "plain.txt"), ReadFile(src / "words.txt"));

    // A file that is neither tar nor compressed is not taken.
    WriteFile(work / "plain.txt", "just text\n");
    EXPECT_EQ(Tar().Run(TarExtractLine(work / "plain.txt", out.path())), ARCERR_NOT_ARCHIVE);
}

TEST(Extract, BgaBothMethodsStoredMembersAndJapaneseNames)
{
    TempDir work, out;
    std::string big(200000, 'b');
    std::vector<BgaMember> members = {
        {"", "a.txt", "plain gzip member\n", false, 1},
        {"sub\\", "b.bin", big, true, 1},
        {"\x95\\\x82\xbe\x82\xe6\\", "\x8a\xbf\x8e\x9a.txt", "kanji\n", false, 1}, // 表だよ\漢字.txt
        {"", "stored.lzh", "not compressed", false, 2},
        {"", "emptydir", "", false, 2, 0x10},
    };
    WriteFile(work / "a.gza", MakeBga(members));
    std::string log;
    EXPECT_EQ(Bga().Run("x -n -i  \"" + (work / "a.gza") + "\" \"" + out.path() + "/\" ", &log), 0) << log;
    EXPECT_EQ(ReadFile(out / "a.txt"), "plain gzip member\n");
    EXPECT_EQ(ReadFile(out / "sub/b.bin"), big);
    EXPECT_EQ(ReadFile(out / "表だよ/漢字.txt"), "kanji\n");
    EXPECT_EQ(ReadFile(out / "stored.lzh"), "not compressed");
    struct stat st {};
    EXPECT_TRUE(stat((out / "emptydir").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_TRUE(Bga().Detects(work / "a.gza"));
    EXPECT_NE(Bga().check((work / "a.gza").c_str(), 2), 0);

    // The default options of the program's BGA line drop the folders.
    TempDir flat;
    EXPECT_EQ(Bga().Run("x -n -j  \"" + (work / "a.gza") + "\" \"" + flat.path() + "/\" "), 0);
    EXPECT_EQ(ReadFile(flat / "b.bin"), big);
    EXPECT_EQ(ReadFile(flat / "漢字.txt"), "kanji\n");
}

TEST(Extract, JapaneseNamesInUtf8AndCp932)
{
    {
        // Names flagged as UTF-8 stay UTF-8 whatever the program's locale.
        TempDir work, out;
        WriteFile(work / "mk.py", "import zipfile\nz = zipfile.ZipFile('u.zip', 'w')\n"
                                  "z.writestr('日本/語.txt', 'utf8')\nz.close()\n");
        ASSERT_EQ(Shell(work.path(), "LC_ALL=C.UTF-8 python3 mk.py"), 0);
        std::string log;
        EXPECT_EQ(Unzip().Run(ZipLine(work / "u.zip", out.path()), &log), 0) << log;
        EXPECT_EQ(ReadFile(out / "日本/語.txt"), "utf8");
    }

    TempDir work, lzhOut, arjOut;
    // 表だよ\一覧表.txt: the second byte of 表 is a backslash.
    std::string name = "\x95\\\x82\xbe\x82\xe6\\\x88\xea\x97\x97\x95\\.txt";
    WriteFile(work / "j.lzh", MakeStoredLzh({{name, "hello"}, {"ascii.txt", "plain"}}));
    std::string log;
    EXPECT_EQ(Unlha().Run(ExtractLine(work / "j.lzh", lzhOut.path()), &log), 0) << log;
    EXPECT_EQ(ReadFile(lzhOut / "表だよ/一覧表.txt"), "hello");
    EXPECT_EQ(ReadFile(lzhOut / "ascii.txt"), "plain");

    // A method only liblhasa decodes.
    TempDir lz5Out;
    std::string text = "LArc's -lz5- method, literals only: 0123456789";
    WriteFile(work / "lz5.lzh", MakeStoredLzh({{"lz5.txt", text}, {name, "hello"}}, true));
    EXPECT_EQ(Unlha().Run(ExtractLine(work / "lz5.lzh", lz5Out.path()), &log), 0) << log;
    EXPECT_EQ(ReadFile(lz5Out / "lz5.txt"), text);
    EXPECT_EQ(ReadFile(lz5Out / "表だよ/一覧表.txt"), "hello");
    EXPECT_TRUE(Unlha().Detects(work / "lz5.lzh"));

    WriteFile(work / "j.arj", MakeStoredArj({{name, "hello"}}));
    EXPECT_EQ(Unarj().Run(ExtractLine(work / "j.arj", arjOut.path()), &log), 0) << log;
    EXPECT_EQ(ReadFile(arjOut / "表だよ/一覧表.txt"), "hello");
}

TEST(Extract, EachLibraryRecognisesOnlyItsOwnKind)
{
    TempDir src, work;
    WriteFile(src / "f.txt", "some text to pack\n");
    ASSERT_EQ(Shell(src.path(), "zip -q " + Quote(work / "a.zip") + " f.txt"), 0);
    ASSERT_EQ(Shell(src.path(), "arj a -y " + Quote(work / "a.arj") + " f.txt"), 0);
    ASSERT_EQ(Shell(src.path(), "gcab -c " + Quote(work / "a.cab") + " f.txt"), 0);
    ASSERT_EQ(Shell(src.path(), "tar czf " + Quote(work / "a.tgz") + " f.txt"), 0);
    WriteFile(work / "a.gza", MakeBga({{"", "f.txt", "some text\n"}}));
    WriteFile(work / "junk.bin", std::string(5000, 'x'));
    struct Kind {
        std::string file;
        ArchiverLib* lib;
    } kinds[] = {
        {work / "a.zip", &Unzip()},
        {work / "a.arj", &Unarj()},
        {work / "a.cab", &Cab()},
        {work / "a.tgz", &Tar()},
        {work / "a.gza", &Bga()},
        {SamplesDir() + "/lha_lh6.lzh", &Unlha()},
        {SamplesDir() + "/rar.rar", &Unrar()},
        {work / "junk.bin", nullptr},
    };
    for (auto& file : kinds)
        for (auto& lib : kinds) {
            if (!lib.lib)
                continue;
            EXPECT_EQ(lib.lib->Detects(file.file), lib.lib == file.lib) << lib.lib->prefix << " on " << file.file;
        }
    EXPECT_EQ(Unlha().check((work / "a.zip").c_str(), 16), 0);
    EXPECT_FALSE(Unzip().Detects(work / "missing.zip"));
    EXPECT_NE(Unzip().close(0), 0);
}

TEST(Extract, SelfExtractingFilesAreFoundBehindTheirStub)
{
    TempDir src, work;
    MakeSourceTree(src.path());
    std::string stub = "MZ" + std::string(30000, '\x90');
    ASSERT_EQ(Shell(src.path(), "zip -q -r " + Quote(work / "a.zip") + " ."), 0);
    WriteFile(work / "zip.exe", stub + ReadFile(work / "a.zip"));
    WriteFile(work / "lzh.exe", stub + ReadFile(SamplesDir() + "/lha_lh7.lzh"));

    EXPECT_TRUE(Unzip().Detects(work / "zip.exe"));
    EXPECT_FALSE(Unlha().Detects(work / "zip.exe"));
    EXPECT_TRUE(Unlha().Detects(work / "lzh.exe"));
    EXPECT_NE(Unlha().check((work / "lzh.exe").c_str(), 16), 0);
    EXPECT_FALSE(Unzip().Detects(work / "lzh.exe"));

    TempDir zipOut, lzhOut;
    std::string log;
    EXPECT_EQ(Unzip().Run(ZipLine(work / "zip.exe", zipOut.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(zipOut.path()), TreeOf(src.path()));
    EXPECT_EQ(Unlha().Run(ExtractLine(work / "lzh.exe", lzhOut.path()), &log), 0) << log;
    EXPECT_EQ(TreeOf(lzhOut.path()), ReadManifest(SamplesDir() + "/lha_lh7.lzh.manifest"));
}
