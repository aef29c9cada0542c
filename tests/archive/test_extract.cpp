// Extraction end to end through the real archiver libraries built beside the
// program: the sample archives against their manifests, archives made by
// zip, arj, gcab, tar, gzip and bzip2, self-extracting files, unsafe
// archives, progress, and the arcx tool.
#include "test_archive.h"

#include "platform/FileNames.h"
#include "runtime/SysUtils.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <set>

using namespace archive_test;
namespace fs = std::filesystem;

namespace {

bool realLibrary(const std::string& name)
{
    if (!FileExists(ProgramFolder() + name))
        return false;
    HMODULE h = LoadLibraryA(name.c_str());
    return h && !GetProcAddress(h, "RecorderCommandLine");
}

#define NEED_LIBRARY(name)                                                                                       \
    do {                                                                                                       \
        if (!realLibrary(name))                                                                                \
            GTEST_SKIP() << name << " is not built beside this program";                                       \
    } while (0)

#define NEED_TOOL(tool)                                                                                        \
    do {                                                                                                       \
        if (std::system("command -v " tool " >/dev/null 2>&1") != 0)                                           \
            GTEST_SKIP() << tool << " is not installed";                                                       \
    } while (0)

// Extracts as the main window does; returns the library's result.
int extract(const std::string& archive, const std::string& folder, int x = 1)
{
    TArchiveFile f;
    f.SetFileName(archive);
    f.Options().x = static_cast<std::int8_t>(x);
    return f.Extract(0, nullptr, folder, {nullptr});
}

bool sh(const std::string& dir, const std::string& command)
{
    return std::system(("cd " + shellQuote(dir) + " && " + command + " >/dev/null 2>&1").c_str()) == 0;
}

// A small tree of files for the archivers to pack: src/ in dir.
void makeTree(const TempDir& dir)
{
    WriteFile(dir / "src/top.txt", "top level\n");
    WriteFile(dir / "src/sub/inner.txt", std::string(5000, 'i') + "end\n");
    std::string mixed;
    for (int k = 0; k < 40000; ++k)
        mixed += static_cast<char>((k * 7919) % 251);
    WriteFile(dir / "src/sub/deep/data.bin", mixed);
}

} // namespace

TEST(Extraction, SampleArchivesMatchTheirManifests)
{
    const std::string samples = FETCHLET_SAMPLES;
    if (!DirectoryExists(samples))
        GTEST_SKIP() << "no samples";
    const std::pair<const char*, const char*> cases[] = {
        {"lha_header0.lzh", "UNLHA32.DLL"}, {"lha_lh0.lzh", "UNLHA32.DLL"},   {"lha_lh6.lzh", "UNLHA32.DLL"},
        {"lha_lh7.lzh", "UNLHA32.DLL"},     {"cab_2.cab", "CAB32.DLL"},       {"cab_3.cab", "CAB32.DLL"},
        {"rar.rar", "UNRAR32.DLL"},         {"rar5_compressed.rar", "UNRAR32.DLL"},
        {"zip_filename_cp932.zip", "UNZIP32.DLL"},
    };
    int tested = 0;
    for (const auto& [name, library] : cases) {
        if (!realLibrary(library))
            continue;
        SCOPED_TRACE(name);
        TempDir dir;
        EXPECT_EQ(extract(samples + "/" + name, dir.Path()), 0);
        EXPECT_EQ(manifestOf(dir.Path()), ReadFile(samples + "/" + name + ".manifest"));
        ++tested;
    }
    if (tested == 0)
        GTEST_SKIP() << "no real libraries";
}

TEST(Extraction, ArchivesMadeByOtherArchivers)
{
    TempDir dir;
    makeTree(dir);
    const std::string expected = manifestOf(dir / "src");
    struct Case {
        const char* library;
        const char* tool;
        const char* archive;
        const char* command;
    };
    const Case cases[] = {
        {"UNZIP32.DLL", "zip", "t.zip", "cd src && zip -qr ../t.zip ."},
        {"UNZIP32.DLL", "zip", "t0.zip", "cd src && zip -qr0 ../t0.zip ."},
        {"tar32.dll", "tar", "t.tar", "tar -cf t.tar -C src ."},
        {"tar32.dll", "tar", "t.tar.gz", "tar -czf t.tar.gz -C src ."},
        {"tar32.dll", "tar", "t.tgz", "tar -czf t.tgz -C src ."},
        {"tar32.dll", "bzip2", "t.tar.bz2", "tar -cjf t.tar.bz2 -C src ."},
        {"UNARJ32J.DLL", "arj", "m0.arj", "cd src && arj a -r -m0 -y ../m0.arj"},
        {"UNARJ32J.DLL", "arj", "m1.arj", "cd src && arj a -r -m1 -y ../m1.arj"},
        {"UNARJ32J.DLL", "arj", "m2.arj", "cd src && arj a -r -m2 -y ../m2.arj"},
        {"UNARJ32J.DLL", "arj", "m3.arj", "cd src && arj a -r -m3 -y ../m3.arj"},
        {"UNARJ32J.DLL", "arj", "m4.arj", "cd src && arj a -r -m4 -y ../m4.arj"},
    };
    int tested = 0;
    for (const auto& c : cases) {
        if (!realLibrary(c.library) || std::system((std::string("command -v ") + c.tool + " >/dev/null").c_str()))
            continue;
        SCOPED_TRACE(c.archive);
        ASSERT_TRUE(sh(dir.Path(), c.command));
        const std::string out = dir / (std::string("out-") + c.archive);
        EXPECT_EQ(extract(dir / c.archive, out), 0);
        EXPECT_EQ(manifestOf(out), expected);
        ++tested;
    }
    // CAB keeps no folders when gcab is given bare names.
    if (realLibrary("CAB32.DLL") && std::system("command -v gcab >/dev/null") == 0) {
        ASSERT_TRUE(sh(dir / "src/sub", "gcab -c -z ../../t.cab inner.txt deep/data.bin"));
        EXPECT_EQ(extract(dir / "t.cab", dir / "out-cab"), 0);
        EXPECT_EQ(ReadFile(dir / "out-cab/inner.txt"), ReadFile(dir / "src/sub/inner.txt"));
        EXPECT_EQ(ReadFile(dir / "out-cab/deep/data.bin"), ReadFile(dir / "src/sub/deep/data.bin"));
        ++tested;
    }
    // A single compressed file comes out under its name without the suffix.
    if (realLibrary("tar32.dll")) {
        ASSERT_TRUE(sh(dir.Path(), "cp src/top.txt one.txt && gzip -k one.txt && cp src/top.txt two.txt && bzip2 two.txt"));
        EXPECT_EQ(extract(dir / "one.txt.gz", dir / "out-gz"), 0);
        EXPECT_EQ(ReadFile(dir / "out-gz/one.txt"), "top level\n");
        EXPECT_EQ(extract(dir / "two.txt.bz2", dir / "out-bz2"), 0);
        EXPECT_EQ(ReadFile(dir / "out-bz2/two.txt"), "top level\n");
        ++tested;
    }
    if (tested == 0)
        GTEST_SKIP() << "no real libraries or archivers";
}

TEST(Extraction, SelfExtractingFilesAreRecognisedByContent)
{
    TempDir dir;
    const std::string stub = "MZ" + std::string(3000, '\x90');
    WriteFile(dir / "stub", stub);
    int tested = 0;
    if (realLibrary("UNZIP32.DLL") && std::system("command -v zip >/dev/null") == 0) {
        makeTree(dir);
        ASSERT_TRUE(sh(dir.Path(), "cd src && zip -qr ../t.zip . && cd .. && cat stub t.zip > zsetup.exe && zip -qA zsetup.exe"));
        EXPECT_EQ(DetectArchiverType(dir / "zsetup.exe"), atZip);
        EXPECT_EQ(extract(dir / "zsetup.exe", dir / "out-zip"), 0);
        EXPECT_EQ(manifestOf(dir / "out-zip"), manifestOf(dir / "src"));
        ++tested;
    }
    const std::string lzh = std::string(FETCHLET_SAMPLES) + "/lha_lh6.lzh";
    if (realLibrary("UNLHA32.DLL") && FileExists(lzh)) {
        WriteFile(dir / "lsetup.exe", stub + ReadFile(lzh));
        EXPECT_EQ(DetectArchiverType(dir / "lsetup.exe"), atLha);
        ++tested;
    }
    // A cabinet inside a program, as the Windows tools make them.
    if (realLibrary("CAB32.DLL") && std::system("command -v gcab >/dev/null") == 0) {
        makeTree(dir);
        ASSERT_TRUE(sh(dir.Path(), "cd src && gcab -cz ../t.cab $(find . -type f)"));
        WriteFile(dir / "csetup.exe", stub + ReadFile(dir / "t.cab") + stub);
        EXPECT_EQ(DetectArchiverType(dir / "csetup.exe"), atCab);
        EXPECT_EQ(extract(dir / "csetup.exe", dir / "out-cab"), 0);
        EXPECT_EQ(manifestOf(dir / "out-cab"), manifestOf(dir / "src"));
        ++tested;
    }
    WriteFile(dir / "plain.exe", stub);
    EXPECT_EQ(DetectArchiverType(dir / "plain.exe"), atNone);
    if (tested == 0)
        GTEST_SKIP() << "no real libraries";
}

TEST(Extraction, UnsafeMembersAreRefused)
{
    NEED_LIBRARY("UNZIP32.DLL");
    NEED_LIBRARY("tar32.dll");
    NEED_TOOL("python3");
    TempDir dir;
    const std::string script =
        "import zipfile, tarfile, io\n"
        "z = zipfile.ZipFile('evil.zip', 'w')\n"
        "z.writestr('good.txt', 'good')\n"
        "z.writestr('../escaped.txt', 'bad')\n"
        "z.writestr('/tmp/fetchlet-absolute-" + std::to_string(::getpid()) + ".txt', 'bad')\n"
        "z.close()\n"
        "t = tarfile.open('evil.tar', 'w')\n"
        "def add(name, data=b'', link=None):\n"
        "    i = tarfile.TarInfo(name)\n"
        "    if link is not None:\n"
        "        i.type = tarfile.SYMTYPE; i.linkname = link\n"
        "    else:\n"
        "        i.size = len(data)\n"
        "    t.addfile(i, io.BytesIO(data))\n"
        "add('good.txt', b'good')\n"
        "add('link', link='..')\n"
        "add('link/through-link.txt', b'bad')\n"
        "add('../escaped-tar.txt', b'bad')\n"
        "t.close()\n";
    WriteFile(dir / "make.py", script);
    ASSERT_TRUE(sh(dir.Path(), "python3 make.py"));
    fs::create_directories(dir / "box/out");
    EXPECT_NE(extract(dir / "evil.zip", dir / "box/out"), 0);
    EXPECT_EQ(ReadFile(dir / "box/out/good.txt"), "good");
    EXPECT_FALSE(fs::exists(dir / "box/escaped.txt"));
    EXPECT_FALSE(fs::exists("/tmp/fetchlet-absolute-" + std::to_string(::getpid()) + ".txt"));

    fs::create_directories(dir / "box2/out");
    EXPECT_NE(extract(dir / "evil.tar", dir / "box2/out"), 0);
    EXPECT_EQ(ReadFile(dir / "box2/out/good.txt"), "good");
    EXPECT_FALSE(fs::exists(dir / "box2/through-link.txt"));
    EXPECT_FALSE(fs::exists(dir / "box2/escaped-tar.txt"));
}

TEST(Extraction, ProgressFromARealLibraryCanAbort)
{
    NEED_LIBRARY("UNZIP32.DLL");
    NEED_TOOL("zip");
    TempDir dir;
    makeTree(dir);
    ASSERT_TRUE(sh(dir.Path(), "cd src && zip -qr ../t.zip ."));
    TArchiveFile f;
    f.SetFileName(dir / "t.zip");
    f.Options().x = 1;
    std::set<std::string> begun;
    int ends = 0;
    f.OnProgress = [&](TObject*, int state, LPEXTRACTINGINFOEX eis, bool&) {
        if (state == ARCEXTRACT_BEGIN)
            begun.insert(eis->SourceFileName);
        if (state == ARCEXTRACT_END)
            ++ends;
    };
    EXPECT_EQ(f.Extract(0, nullptr, dir / "all", {nullptr}), 0);
    EXPECT_TRUE(begun.count("top.txt")) << f.CommandLine();
    EXPECT_TRUE(begun.count("sub/deep/data.bin"));
    EXPECT_GE(ends, 3);

    f.OnProgress = [&](TObject*, int state, LPEXTRACTINGINFOEX, bool& Abort) { Abort = state == ARCEXTRACT_BEGIN; };
    EXPECT_NE(f.Extract(0, nullptr, dir / "none", {nullptr}), 0);
    EXPECT_FALSE(FileExists(dir / "none/top.txt"));

    // ARJ reports progress too, although the LHA library that its back-end
    // also tells is not loaded in this process.
    NEED_LIBRARY("UNARJ32J.DLL");
    NEED_TOOL("arj");
    ASSERT_TRUE(sh(dir.Path(), "cd src && arj a -r -m1 -y ../t.arj >/dev/null"));
    TArchiveFile a;
    a.SetFileName(dir / "t.arj");
    a.Options().x = 1;
    begun.clear();
    a.OnProgress = [&](TObject*, int state, LPEXTRACTINGINFOEX eis, bool&) {
        if (state == ARCEXTRACT_BEGIN)
            begun.insert(eis->SourceFileName);
    };
    EXPECT_EQ(a.Extract(0, nullptr, dir / "arj", {nullptr}), 0);
    EXPECT_TRUE(begun.count("top.txt")) << a.CommandLine();
}

TEST(Extraction, ArcxPrintsTheCommandLineAndTheResult)
{
    const std::string arcx = ProgramFolder() + "arcx";
    if (!FileExists(arcx))
        GTEST_SKIP() << "arcx is not built";
    TempDir dir;
    WriteFile(dir / "a.lha", "not an archive of a kind known by its name");
    RunResult unknown = runCommand(shellQuote(arcx) + " " + shellQuote(dir / "a.lha") + " " + shellQuote(dir.Path()));
    EXPECT_EQ(unknown.exitCode, 3);
    EXPECT_EQ(unknown.out, "EArchiver: 書庫の形式を判別できません。\n");
    // A missing archive never reaches the component.
    RunResult missing =
        runCommand(shellQuote(arcx) + " " + shellQuote(dir / "b.zip") + " " + shellQuote(dir.Path()) + " 2>&1");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "arcx: cannot read " + dir / "b.zip" + ": No such file or directory\n");

    RunResult usage = runCommand(shellQuote(arcx) + " --opt nothing=1 a.zip out 2>/dev/null");
    EXPECT_EQ(usage.exitCode, 2);

    if (!realLibrary("UNZIP32.DLL") || std::system("command -v zip >/dev/null") != 0)
        return;
    makeTree(dir);
    ASSERT_TRUE(sh(dir.Path(), "cd src && zip -qr ../t.zip ."));
    RunResult ok = runCommand(shellQuote(arcx) + " --opt x=0 --opt c=1 " + shellQuote(dir / "t.zip") + " " +
                              shellQuote(dir / "out"));
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_EQ(ok.out, "CommandLine=-x -o -j  \"" + (dir / "t.zip") + "\" \"" + (dir / "out") + "/\" \nResult=0\n");
    EXPECT_TRUE(FileExists(dir / "out/data.bin"));

    WriteFile(dir / "bad.zip", "PK\x03\x04 not really");
    RunResult bad = runCommand(shellQuote(arcx) + " --owner " + shellQuote(dir / "bad.zip") + " " + shellQuote(dir / "o2") +
                               " 2>/dev/null");
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.out.find("CommandLine=-x --i  \""), std::string::npos) << bad.out;
    EXPECT_EQ(bad.out.find("Result=0\n"), std::string::npos);
}

TEST(Extraction, SelfExtractingFilesOfEveryKindAreRecognisedAndExtracted)
{
    if (!realLibrary("UNLHA32.DLL") || !FileExists(ProgramFolder() + "sfx16.dat"))
        GTEST_SKIP() << "no real libraries or stubs";
    TempDir dir;
    makeTree(dir);
    const std::string arcx = shellQuote(ProgramFolder() + "arcx");
    const std::pair<const char*, TArchiverType> kinds[] = {{"a.lzh", atLha}, {"a.zip", atZip}, {"a.cab", atCab},
                                                           {"a.tgz", atTgz}, {"a.tar", atTar}, {"a.gza", atBga}};
    for (const auto& [name, type] : kinds) {
        SCOPED_TRACE(name);
        const std::string folder = dir / (std::string(name) + ".d");
        std::filesystem::create_directory(folder);
        const std::string archive = folder + "/" + name;
        RunResult r = runCommand(arcx + " --opt r=1 pack " + shellQuote(archive) + " " + shellQuote(dir / "src") + " '*' 2>&1");
        ASSERT_EQ(r.exitCode, 0) << r.out;
        r = runCommand(arcx + " sfx " + shellQuote(archive) + " 2>&1");
        ASSERT_EQ(r.exitCode, 0) << r.out;
        std::string exe;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (AnsiCompareText(ExtractFileExt(e.path().string()), ".exe") == 0)
                exe = e.path().string();
        ASSERT_FALSE(exe.empty()) << r.out;
        // Recognised by content as its kind, and extracted as the main
        // window extracts.
        EXPECT_EQ(DetectArchiverType(exe), type);
        EXPECT_EQ(extract(exe, folder + "/out"), 0);
        EXPECT_EQ(manifestOf(folder + "/out"), manifestOf(dir / "src"));
        // The file runs and reproduces the files.
        r = runCommand("cd " + shellQuote(folder) + " && mkdir run && cd run && " + shellQuote(exe) + " >/dev/null 2>&1; echo $?");
        EXPECT_EQ(r.out, "0\n");
        EXPECT_EQ(manifestOf(folder + "/run"), manifestOf(dir / "src"));
    }
    RunResult r = runCommand(arcx + " --type bz2 sfx " + shellQuote(dir / "a.tgz.d/a.tgz") + " 2>&1");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "EArchiver: BZ2 形式書庫は自己解凍形式にできません。\n");
}
