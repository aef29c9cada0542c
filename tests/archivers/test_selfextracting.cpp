// Self-extracting files: the libraries' commands (LHA "s", CAB "-f", BGA
// "s", ZIP "-A") and the stubs built next to them, run as their users run
// them: they reproduce the files, list and test, read as archives in place
// by our readers (and unzip and 7-Zip for ZIP), and say in one line what
// went wrong with a damaged, truncated or missing archive or a destination
// they cannot write.
#include "ArchiverHarness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

bool Have(const char* tool) { return Shell(".", std::string("command -v ") + tool) == 0; }

std::string Q(const std::string& text) { return "\"" + text + "\""; }

std::string Bin(const std::string& name) { return std::string(FETCHLET_BIN_DIR) + "/" + name; }

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs a command in a folder, capturing standard output and error.
Outcome RunIn(const std::string& folder, const std::string& command)
{
    TempDir capture;
    std::string line = "cd " + Quote(folder) + " && " + command + " >" + Quote(capture / "out") + " 2>"
                       + Quote(capture / "err");
    int rc = std::system(line.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(capture / "out"), ReadFile(capture / "err")};
}

// The self-extracting file of each kind, made from the source tree.
struct Made {
    std::string exe;
    ArchiverLib* reader;
    std::string stub; // the stub's file name
};

Made MakeLha(const std::string& work, const std::string& src)
{
    std::string log;
    EXPECT_EQ(Unlha().Run("u -+  " + Q(work + "/t.lzh") + " " + Q(src + "/") + " \"*\" ", &log), 0) << log;
    EXPECT_EQ(Unlha().Run("s -+  " + Q(work + "/t.lzh") + " " + Q(work + "/") + " ", &log), 0) << log;
    return {work + "/t.exe", &Unlha(), "lhasfx.dat"};
}

Made MakeCab(const std::string& work, const std::string& src)
{
    std::string log;
    EXPECT_EQ(Cab().Run("-a  " + Q(work + "/c.cab") + " " + Q(src + "/") + " \"*\" ", &log), 0) << log;
    EXPECT_EQ(Cab().Run("-f  " + Q(work + "/c.cab") + " " + Q(work + "/") + " ", &log), 0) << log;
    return {work + "/c.exe", &Cab(), "cabsfx.dat"};
}

Made MakeBga(const std::string& work, const std::string& src)
{
    std::string log;
    EXPECT_EQ(Bga().Run("a -n -j  " + Q(work + "/b.gza") + " " + Q(src + "/") + " \"*\" ", &log), 0) << log;
    EXPECT_EQ(Bga().Run("s -n -j  " + Q(work + "/b.gza") + " " + Q(work + "/") + " ", &log), 0) << log;
    return {work + "/b.exe", &Bga(), "bgasfx.dat"};
}

// ZIP and tar: the stub, then the archive (what the back-ends do), and for
// ZIP the offsets adjusted by "-A".
Made MakeZip(const std::string& work, const std::string& src)
{
    std::string log;
    EXPECT_EQ(Zip32j().RunZip(" -r  " + Q(work + "/z.zip") + " " + Q(src + "/") + " \"*\" ", &log), 0) << log;
    WriteFile(work + "/z.EXE", ReadFile(Bin("sfx16.dat")) + ReadFile(work + "/z.zip"));
    chmod((work + "/z.EXE").c_str(), 0755);
    EXPECT_EQ(Zip32j().RunZip("-A " + work + "/z.EXE", &log), 0) << log;
    return {work + "/z.EXE", &Unzip(), "sfx16.dat"};
}

Made MakeTar(const std::string& work, const std::string& src)
{
    std::string log;
    EXPECT_EQ(Tar().Run("c -z  -f " + Q(work + "/t.tgz") + " -o " + Q(src + "/") + " \"*\" ", &log), 0) << log;
    WriteFile(work + "/t.EXE", ReadFile(Bin("kmtarsef.exe")) + ReadFile(work + "/t.tgz"));
    chmod((work + "/t.EXE").c_str(), 0755);
    return {work + "/t.EXE", &Tar(), "kmtarsef.exe"};
}

} // namespace

TEST(SelfExtracting, EveryKindReproducesItsFiles)
{
    TempDir src;
    MakeSourceTree(src.path());
    const Tree expected = TreeOf(src.path());
    for (auto maker : {MakeLha, MakeCab, MakeBga, MakeZip, MakeTar}) {
        TempDir work;
        const Made made = maker(work.path(), src.path());
        SCOPED_TRACE(made.exe);
        struct stat st {};
        ASSERT_EQ(stat(made.exe.c_str(), &st), 0);
        EXPECT_TRUE(st.st_mode & S_IXUSR) << "not executable";

        // Into the current directory, and into -d DIR.
        TempDir here, there;
        Outcome r = RunIn(here.path(), Quote(made.exe));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(TreeOf(here.path()), expected);
        r = RunIn(work.path(), Quote(made.exe) + " -d " + Quote(there / "new/folder"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(TreeOf(there / "new/folder"), expected);
        // -l lists, -t tests.
        r = RunIn(work.path(), Quote(made.exe) + " -l");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("sub/deep/notes.txt"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("日本語.txt"), std::string::npos) << r.out;
        r = RunIn(work.path(), Quote(made.exe) + " -t");
        EXPECT_EQ(r.status, 0) << r.err;

        // Still an archive: our own library reads it in place.
        TempDir ours;
        std::string log;
        const std::string line = made.reader == &Tar() ? TarExtractLine(made.exe, ours.path())
                                                       : ExtractLine(made.exe, ours.path());
        EXPECT_EQ(made.reader->Run(line, &log), 0) << log;
        EXPECT_EQ(TreeOf(ours.path()), expected);
        EXPECT_TRUE(made.reader == &Tar() || made.reader->Detects(made.exe));
    }
}

TEST(SelfExtracting, ZipOnesAreReadByOtherProgramsInPlace)
{
    TempDir work, src;
    MakeSourceTree(src.path());
    const Made made = MakeZip(work.path(), src.path());
    if (Have("unzip")) {
        EXPECT_EQ(Shell(work.path(), "unzip -tq z.EXE"), 0);
        TempDir out;
        EXPECT_EQ(Shell(out.path(), "unzip -q " + Quote(made.exe)), 0);
        EXPECT_EQ(TreeOf(out.path()), TreeOf(src.path()));
    }
    if (Have("7zz")) {
        EXPECT_EQ(Shell(work.path(), "7zz t -tzip z.EXE"), 0);
    }
    // Adjusting twice changes nothing.
    const std::string once = ReadFile(made.exe);
    std::string log;
    EXPECT_EQ(Zip32j().RunZip("-A " + made.exe, &log), 0) << log;
    EXPECT_EQ(ReadFile(made.exe), once);
    // A path with blanks comes whole.
    Shell(work.path(), "mkdir 'a folder' && cp z.EXE 'a folder/z z.EXE'");
    EXPECT_EQ(Zip32j().RunZip("-A " + (work / "a folder/z z.EXE"), &log), 0) << log;
}

TEST(SelfExtracting, WhatGoesWrongIsSaidInOneLine)
{
    TempDir work, src;
    MakeSourceTree(src.path());
    // A stub with no archive after it.
    Outcome r = RunIn(work.path(), Quote(Bin("lhasfx.dat")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no archive follows this program"), std::string::npos) << r.err;

    // A truncated archive: what came before the cut is kept, the cut
    // member is not left behind, one line on standard error.
    for (auto maker : {MakeLha, MakeZip, MakeTar, MakeBga}) {
        TempDir box;
        const Made made = maker(box.path(), src.path());
        SCOPED_TRACE(made.exe);
        std::string whole = ReadFile(made.exe);
        const size_t stub = ReadFile(Bin(made.stub)).size();
        const std::string cut = box / "cut.exe";
        WriteFile(cut, whole.substr(0, stub + (whole.size() - stub) * 3 / 4));
        chmod(cut.c_str(), 0755);
        TempDir out;
        r = RunIn(out.path(), Quote(cut));
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(Exists(out / "sub/日本語.txt.part"));
        // A damaged one (BGA keeps no check value of a stored member, as the
        // random data in the middle is).
        if (made.reader == &Bga())
            continue;
        std::string bad = whole;
        for (size_t i = stub + (whole.size() - stub) / 2; i < stub + (whole.size() - stub) / 2 + 64; ++i)
            bad[i] = static_cast<char>(bad[i] ^ 0x5A);
        WriteFile(box / "bad.exe", bad);
        chmod((box / "bad.exe").c_str(), 0755);
        r = RunIn(out.path(), Quote(box / "bad.exe") + " -t");
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // The truncated LHA one kept its first members.
    {
        TempDir box, out;
        const Made made = MakeLha(box.path(), src.path());
        std::string whole = ReadFile(made.exe);
        WriteFile(box / "cut.exe", whole.substr(0, whole.size() - 3000));
        chmod((box / "cut.exe").c_str(), 0755);
        r = RunIn(out.path(), Quote(box / "cut.exe"));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(ReadFile(out / "empty"), "");
        EXPECT_TRUE(Exists(out / "empty"));
    }
    // An LHA one cut inside a header, or with a header damaged, is not at
    // its end: extracting, testing and listing say so.
    {
        TempDir box, out;
        const Made made = MakeLha(box.path(), src.path());
        const std::string whole = ReadFile(made.exe);
        size_t method = ReadFile(Bin(made.stub)).size();
        for (int i = 0; i < 3 && method != std::string::npos; ++i)
            method = whole.find("-lh", method + 1);
        ASSERT_NE(method, std::string::npos);
        const size_t header = method - 2;
        std::string damaged = whole;
        damaged[header + 15] = static_cast<char>(damaged[header + 15] ^ 0x40); // its time
        for (const std::string& bad : {whole.substr(0, header + 10), damaged}) {
            WriteFile(box / "bad.exe", bad);
            chmod((box / "bad.exe").c_str(), 0755);
            for (const char* option : {"", " -t", " -l"}) {
                SCOPED_TRACE(std::string(option) + " " + std::to_string(bad.size()));
                r = RunIn(out.path(), Quote(box / "bad.exe") + option);
                EXPECT_EQ(r.status, 1);
            }
        }
    }
    // "-A" on a directory whose ZIP64 field runs past its end.
    {
        TempDir box;
        auto le = [](uint64_t v, int n) {
            std::string b;
            for (int i = 0; i < n; ++i)
                b += static_cast<char>((v >> (8 * i)) & 0xFF);
            return b;
        };
        const std::string local = "PK\x03\x04" + le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) + le(0, 4)
                                  + le(0, 4) + le(1, 2) + le(0, 2) + "a";
        const std::string central = "PK\x01\x02" + le(20, 2) + le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4)
                                    + le(0, 4) + le(0, 4) + le(0, 4) + le(1, 2) + le(4, 2) + le(0, 2) + le(0, 2)
                                    + le(0, 2) + le(0, 4) + le(0xFFFFFFFF, 4) + "a" + le(1, 2) + le(0xFFFF, 2);
        const std::string end = "PK\x05\x06" + le(0, 2) + le(0, 2) + le(1, 2) + le(1, 2) + le(central.size(), 4)
                                + le(0, 4) + le(0, 2);
        const std::string zip = std::string(100, 'x') + local + central + end;
        WriteFile(box / "odd.EXE", zip);
        std::string log;
        EXPECT_EQ(Zip32j().RunZip("-A " + (box / "odd.EXE"), &log), ARCERR_DAMAGED) << log;
        EXPECT_EQ(ReadFile(box / "odd.EXE"), zip);
    }
    // A destination that cannot be written.
    if (geteuid() != 0) {
        TempDir box;
        const Made made = MakeCab(box.path(), src.path());
        Shell(box.path(), "mkdir ro && chmod 555 ro");
        r = RunIn(box.path(), Quote(made.exe) + " -d ro/x");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    } else {
        TempDir box;
        const Made made = MakeCab(box.path(), src.path());
        WriteFile(box / "file", "a file where the folder should be");
        r = RunIn(box.path(), Quote(made.exe) + " -d file/x");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("folder"), std::string::npos) << r.err;
    }
    // The library commands say when there is no stub or no archive.
    std::string log;
    EXPECT_EQ(Cab().Run("-f  " + Q(work / "none.cab") + " ", &log), ARCERR_OPEN) << log;
    WriteFile(work / "junk.lzh", "not an archive");
    EXPECT_EQ(Unlha().Run("s -+  " + Q(work / "junk.lzh") + " ", &log), ARCERR_NOT_ARCHIVE) << log;
    EXPECT_FALSE(Exists(work / "junk.exe"));
}
