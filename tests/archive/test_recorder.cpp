// Exact command lines, the output buffer, the response file, the progress
// relay and detection by content, against stand-in libraries that record
// what they receive (run from bin/recorder/).
#include "test_archive.h"

#include "archive/ARJ32.h"
#include "archive/BGA32.h"
#include "archive/CAB32.h"
#include "archive/LHA32.h"
#include "archive/RAR32.h"
#include "archive/TAR32.h"
#include "archive/ZIP32.h"
#include "platform/FileNames.h"
#include "platform/MessageWindow.h"
#include "runtime/SysUtils.h"

using namespace archive_test;

namespace {

struct Recorder {
    explicit Recorder(TArchiverDll& dll) : dll(dll) {}
    TArchiverDll& dll;
    template <typename F>
    F entry(const char* name)
    {
        dll.Load();
        return reinterpret_cast<F>(dll.Find(name));
    }
    std::string CommandLine() { return entry<const char* (*)()>("RecorderCommandLine")(); }
    HWND Owner() { return entry<HWND (*)()>("RecorderOwner")(); }
    bool OutputNull() { return entry<int (*)()>("RecorderOutputNull")() != 0; }
    int OutputSize() { return entry<int (*)()>("RecorderOutputSize")(); }
    HWND ProgressWindow() { return entry<HWND (*)()>("RecorderProgressWindow")(); }
    void SetResult(int value) { entry<void (*)(int)>("RecorderSetResult")(value); }
    int LastOpenMode() { return entry<int (*)()>("RecorderLastOpenMode")(); }
    std::string LastOpenPath() { return entry<const char* (*)()>("RecorderLastOpenPath")(); }
};

class Recorders : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Unlha32Dll().Load() || !Unlha32Dll().Find("RecorderCommandLine"))
            GTEST_SKIP() << "the recording libraries are not beside this program";
    }
    // Extracts dir/name (an empty file) into dir/out with x = 1 as the main
    // window does, after `prepare`; returns the component's command line.
    template <typename F>
    std::string run(const std::string& name, F&& prepare, HWND owner = 0)
    {
        const std::string archive = dir / name;
        WriteFile(archive, "");
        TArchiveFile f;
        f.SetFileName(archive);
        f.Options().x = 1;
        prepare(f);
        f.Extract(owner, nullptr, dir / "out", {nullptr});
        EXPECT_EQ(f.CommandLine(), f.Archiver()->CommandLine);
        return f.CommandLine();
    }
    std::string run(const std::string& name)
    {
        return run(name, [](TArchiveFile&) {});
    }
    std::string q(const std::string& name) { return "\"" + (dir / name) + "\""; }
    TempDir dir;
};

} // namespace

TEST_F(Recorders, DefaultCommandLinesAsTheMainWindowCallsThem)
{
    const std::string out = q("out/");
    EXPECT_EQ(run("a.lzh"), "x -+ -x1  " + q("a.lzh") + " " + out + " ");
    EXPECT_EQ(Recorder(Unlha32Dll()).CommandLine(), "x -+ -x1  " + q("a.lzh") + " " + out + " ");
    EXPECT_EQ(run("a.arj"), "x -+ -x1  " + q("a.arj") + " " + out + " ");
    EXPECT_EQ(Recorder(Unarj32Dll()).CommandLine(), "x -+ -x1  " + q("a.arj") + " " + out + " ");
    EXPECT_EQ(run("a.zip"), "-x  " + q("a.zip") + " " + out + " ");
    EXPECT_EQ(run("a.cab"), "-x  " + q("a.cab") + " " + out + " ");
    EXPECT_EQ(run("a.tar"), "x --use-directory=1  -f " + q("a.tar") + " -o " + out + " ");
    EXPECT_EQ(run("a.tgz"), "x --use-directory=1 -z  -f " + q("a.tgz") + " -o " + out + " ");
    EXPECT_EQ(run("a.tar.bz2"), "x --use-directory=1 -B  -f " + q("a.tar.bz2") + " -o " + out + " ");
    EXPECT_EQ(run("a.rar"), "-x -u  " + q("a.rar") + " " + out + " ");
    EXPECT_EQ(run("a.gza"), "x -n  " + q("a.gza") + " " + out + " ");
    EXPECT_EQ(Recorder(Bga32Dll()).CommandLine(), "x -n  " + q("a.gza") + " " + out + " ");
}

TEST_F(Recorders, SwitchesFollowTheOptions)
{
    // Every LHA switch in its place, each under its own letter.
    const std::string lha = run("a.lzh", [&](TArchiveFile& f) {
        auto& o = f.Options();
        for (const auto& name : TArchiverOptions::PropertyNames())
            if (name.size() <= 3 && name != "jx" && o.GetProperty(name) == "-1")
                o.SetProperty(name, "2");
        o.x = 0;
        o.w = dir.Path();
        o.jo = "o";
        o.job = "b";
        o.jz = "z";
        o.gr = "r";
        o.jx.Add("skip*.txt");
        o.UserOptions = "-user";
        o.UserFileList = "tail";
    });
    EXPECT_EQ(lha, "x -+ -a2 -c2 -e2 -f2 -h2 -i2 -l2 -m2 -n2 -o2 -p2 -r2 -s2 -t2 -u2 \"-w" + dir.Path() +
                       "/\" -x0 -y2 -z2 -jc2 -jd2 -je2 -jf2 -jh2 -ji2 -jm2 -jn2 \"-joo\" \"-jobb\" -jp2 -jr2 "
                       "-jss2 -jw2 \"-jxskip*.txt\" -jyc2 -jyd2 -jyk2 -jyn2 -jyo2 \"-jzz\" -ga2 -gd2 -ge2 -gf2 "
                       "-gj2 -gm2 -gn2 -go2 -gp2 \"-grr\" -gs2 -gu2 -gw2 -user " +
                       q("a.lzh") + " " + q("out/") + " tail");

    EXPECT_EQ(run("a.zip", [](TArchiveFile& f) { f.Options().c = 1; f.Options().n = 1; f.Options().x = 0; }),
              "-x -o --i -j  " + q("a.zip") + " " + q("out/") + " ");
    EXPECT_EQ(run("a.zip", [](TArchiveFile& f) { f.Options().c = 2; f.Options().n = 0; }),
              "-x  " + q("a.zip") + " " + q("out/") + " ");
    EXPECT_EQ(run("a.cab", [](TArchiveFile& f) {
                  auto& o = f.Options();
                  o.c = 1; o.n = 1; o.r = 1; o.x = 0; o.ji = 1;
              }),
              "-x -o -i -r -j -q  " + q("a.cab") + " " + q("out/") + " ");
    EXPECT_EQ(run("a.tgz", [](TArchiveFile& f) {
                  auto& o = f.Options();
                  o.a = 1; o.n = 1; o.o = 1; o.p = 0; o.jm = 9;
              }),
              "x -AH --display-dialog=0 -g --check-all-path=0 --use-directory=1 -z9  -f " + q("a.tgz") + " -o " +
                  q("out/") + " ");
    EXPECT_EQ(run("a.bz2", [](TArchiveFile& f) { f.Options().a = 0; f.Options().jm = 0; }),
              "x -I --use-directory=1 -B  -f " + q("a.bz2") + " -o " + q("out/") + " ");
    EXPECT_EQ(run("a.rar", [](TArchiveFile& f) { f.Options().x = 0; f.Options().c = 1; f.Options().m = 1; f.Options().p = 1; }),
              "-e -y -s  " + q("a.rar") + " " + q("out/") + " ");
    EXPECT_EQ(run("a.bza", [](TArchiveFile& f) {
                  auto& o = f.Options();
                  o.a = 1; o.c = 1; o.n = 1; o.r = 1; o.jm = 3;
              }),
              "x -a -o -i -r -l3  " + q("a.bza") + " " + q("out/") + " ");
    EXPECT_EQ(run("a.gza", [](TArchiveFile& f) { f.Options().x = -1; }),
              "x -n -j  " + q("a.gza") + " " + q("out/") + " ");
}

TEST_F(Recorders, CabExpandsTheArchivePathAndFoldersAreNormalised)
{
    const std::string saved = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(dir.Path()));
    WriteFile(dir / "rel.cab", "");
    TArchiveFile f;
    f.SetFileName("rel.cab");
    f.Extract(0, nullptr, "", {nullptr});
    EXPECT_EQ(f.CommandLine(), "-x  " + q("rel.cab") + " ");
    f.SetFileName("rel.zip"); // a ZIP back-end now
    f.Extract(0, nullptr, dir.Path() + "/", {"a\\[b].txt", std::string("c")});
    EXPECT_EQ(f.CommandLine(), "-x  \"rel.zip\" \"" + dir.Path() + "/\" \"a/[[]b].txt\" \"c\" ");
    ASSERT_TRUE(SetCurrentDir(saved));
}

TEST_F(Recorders, OwnerOutputBufferAndResultReachTheLibrary)
{
    const std::string archive = dir / "a.lzh";
    WriteFile(archive, "");
    Recorder rec(Unlha32Dll());
    TArchiveFile f;
    f.SetFileName(archive);
    rec.SetResult(0x8005);
    EXPECT_EQ(f.Extract(0x1234, nullptr, dir.Path(), {nullptr}), 0x8005);
    rec.SetResult(0);
    EXPECT_EQ(rec.Owner(), 0x1234u);
    EXPECT_TRUE(rec.OutputNull());
    EXPECT_EQ(rec.OutputSize(), 0);

    f.SetOutputSize(32);
    EXPECT_EQ(f.Extract(0, nullptr, dir.Path(), {nullptr}), 0);
    EXPECT_FALSE(rec.OutputNull());
    EXPECT_EQ(rec.OutputSize(), 32);
    EXPECT_STREQ(f.Output().data(), "recorded");

    // A given option set replaces the component's own.
    TArchiverOptions other;
    other.x = 0;
    f.Extract(0, &other, dir.Path(), {nullptr});
    EXPECT_EQ(rec.CommandLine(), "x -+ -x0  \"" + archive + "\" \"" + dir.Path() + "/\" ");
}

TEST_F(Recorders, ResponseFileCarriesTheFileList)
{
    const std::string archive = dir / "a.rar";
    WriteFile(archive, "");
    TArchiveFile f;
    f.SetFileName(archive);
    f.Options().ResFileName = dir / "resp.txt";
    TStringList names;
    names.Add("one.txt");
    names.Add("sub/二.txt");
    f.Extract(0, nullptr, dir.Path(), {names});
    EXPECT_EQ(f.CommandLine(), "-x -u  \"" + archive + "\" \"" + dir.Path() + "/\" \"@" + (dir / "resp.txt") + "\" ");
    EXPECT_EQ(ReadFile(dir / "resp.txt"), "\"one.txt\"\r\n\"sub/二.txt\"\r\n");

    // Not for unpacking: the names stay on the line.
    f.Options().ResFileUsage = {ruOnPack};
    f.Extract(0, nullptr, dir.Path(), {names});
    EXPECT_EQ(f.CommandLine(), "-x -u  \"" + archive + "\" \"" + dir.Path() + "/\" \"one.txt\" \"sub/二.txt\" ");

    // A response file that cannot be made stops the extraction; the command
    // line stays the one of the last operation that reached the library.
    const std::string before = f.CommandLine();
    f.Options().ResFileUsage = {ruOnUnpack};
    f.Options().ResFileName = dir / "no/such/folder/resp.txt";
    EXPECT_THROW(f.Extract(0, nullptr, dir.Path(), {names}), EFCreateError);
    EXPECT_EQ(f.CommandLine(), before);
}

TEST_F(Recorders, ProgressIsRelayedAndCanAbort)
{
    const std::string archive = dir / "a.lzh";
    WriteFile(archive, "");
    Recorder rec(Unlha32Dll());
    TArchiveFile f;
    f.SetFileName(archive);
    std::vector<std::pair<int, std::string>> seen;
    bool abort = false;
    f.OnProgress = [&](TObject* sender, int state, LPEXTRACTINGINFOEX eis, bool& Abort) {
        EXPECT_EQ(sender, &f);
        seen.emplace_back(state, eis->SourceFileName);
        Abort = abort;
    };
    EXPECT_EQ(f.Extract(0, nullptr, dir.Path(), {nullptr}), 0);
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::string>>{{ARCEXTRACT_BEGIN, "member.txt"},
                                                              {ARCEXTRACT_END, "member.txt"}}));
    // While relayed, the library is told to stay quiet; afterwards the
    // window is taken back.
    EXPECT_EQ(f.CommandLine(), "x -+ -n1  \"" + archive + "\" \"" + dir.Path() + "/\" ");
    EXPECT_EQ(rec.ProgressWindow(), 0u);
    EXPECT_EQ(f.Archiver()->OwnerWindow, 0u);

    seen.clear();
    abort = true;
    EXPECT_EQ(f.Extract(0, nullptr, dir.Path(), {nullptr}), ARCERR_ABORTED);
    EXPECT_EQ(seen.size(), 1u);

    // A handler that throws neither reaches the library nor escapes.
    f.OnProgress = [](TObject*, int, LPEXTRACTINGINFOEX, bool&) { throw Exception("handler failed"); };
    EXPECT_EQ(f.Extract(0, nullptr, dir.Path(), {nullptr}), 0);

    // ARJ tells both of its libraries.
    WriteFile(dir / "a.arj", "");
    f.SetFileName(dir / "a.arj");
    seen.clear();
    abort = false;
    f.OnProgress = [&](TObject*, int state, LPEXTRACTINGINFOEX, bool&) { seen.emplace_back(state, ""); };
    f.Extract(0, nullptr, dir.Path(), {nullptr});
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(Recorder(Unarj32Dll()).ProgressWindow(), 0u);
}

TEST_F(Recorders, DetectionByContentAndItsPrecedence)
{
    auto kind = [&](const std::string& content) {
        WriteFile(dir / "setup.exe", content);
        return DetectArchiverType(dir / "setup.exe");
    };
    EXPECT_EQ(kind("nothing"), atNone);
    EXPECT_EQ(kind("Tar=1"), atTar);
    EXPECT_EQ(kind("Tar=3"), atTgz);
    EXPECT_EQ(kind("Tar=7"), atBZ2);
    EXPECT_EQ(kind("Tar=8"), atNone);
    EXPECT_EQ(kind("Unrar!"), atRar);
    EXPECT_EQ(kind("Unarj! Unrar! Tar=1"), atArj);
    EXPECT_EQ(kind("UnZip! Unarj!"), atZip);
    EXPECT_EQ(kind("Bga! UnZip!"), atBga);
    EXPECT_EQ(kind("Cab! Bga!"), atCab);
    EXPECT_EQ(kind("Unlha! UnZip! Cab!"), atLha);
    EXPECT_EQ(Recorder(Unlha32Dll()).LastOpenMode(), 0x800002);
    EXPECT_EQ(Recorder(Unlha32Dll()).LastOpenPath(), dir / "setup.exe");
    EXPECT_EQ(DetectArchiverType(dir / "missing.exe"), atNone);

    // Setting such a name picks the back-end; an unrecognised name then
    // keeps it, and the new file goes to the earlier kind's library.
    TArchiveFile f;
    WriteFile(dir / "setup.EXE", "UnZip!");
    f.SetFileName(dir / "setup.EXE");
    EXPECT_EQ(f.ArchiverType(), atZip);
    f.SetFileName(dir / "notes.txt");
    EXPECT_EQ(f.ArchiverType(), atZip);
    f.Extract(0, nullptr, "", {nullptr});
    EXPECT_EQ(f.CommandLine(), "-x  \"" + (dir / "notes.txt") + "\" ");
}
