// The command lines the archive component builds, as the libraries read them.
#include "ArchiverHarness.h"
#include "archivers/core/CommandLine.h"
#include "archivers/core/Extraction.h"

#include <gtest/gtest.h>

using arc::Kind;
using arc::ParseCommandLine;
using arc::SettingsFor;

TEST(CommandLine, LhaLineAsTheProgramBuildsIt)
{
    auto cmd = ParseCommandLine("x -+ -x1 -n1  \"/dl/my files/a.lzh\" \"/dl/my files/\" ", Kind::Lha);
    ASSERT_EQ(cmd.error, 0) << cmd.message;
    EXPECT_EQ(cmd.word, "x");
    EXPECT_EQ(cmd.archive, "/dl/my files/a.lzh");
    EXPECT_EQ(cmd.destination, "/dl/my files/");
    EXPECT_TRUE(cmd.names.empty());
    EXPECT_EQ(cmd.switches, (std::vector<std::string>{"-+", "-x1", "-n1"}));
    EXPECT_TRUE(SettingsFor(cmd, Kind::Lha).keepFolders);

    EXPECT_FALSE(SettingsFor(ParseCommandLine("x -x0 a.lzh", Kind::Lha), Kind::Lha).keepFolders);
    EXPECT_FALSE(SettingsFor(ParseCommandLine("e a.lzh", Kind::Lha), Kind::Lha).keepFolders);
    EXPECT_TRUE(SettingsFor(ParseCommandLine("x a.arj", Kind::Arj), Kind::Arj).keepFolders);

    // A quoted switch with its value inside the quotes, and an exclusion.
    auto w = ParseCommandLine("x \"-w/tmp/work dir/\" \"-jx*.txt\" a.lzh d/ one \"two three\"", Kind::Lha);
    EXPECT_EQ(w.switches, (std::vector<std::string>{"-w/tmp/work dir/", "-jx*.txt"}));
    EXPECT_EQ(w.destination, "d/");
    EXPECT_EQ(w.names, (std::vector<std::string>{"one", "two three"}));
    EXPECT_EQ(SettingsFor(w, Kind::Lha).excludes, (std::vector<std::string>{"*.txt"}));
}

TEST(CommandLine, FolderSwitchesOfEachLibrary)
{
    EXPECT_TRUE(SettingsFor(ParseCommandLine("-x  \"a.zip\" \"d/\" ", Kind::Zip), Kind::Zip).keepFolders);
    EXPECT_FALSE(SettingsFor(ParseCommandLine("-x --i -j \"a.zip\" \"d/\"", Kind::Zip), Kind::Zip).keepFolders);
    EXPECT_FALSE(SettingsFor(ParseCommandLine("-x -i -j \"a.cab\"", Kind::Cab), Kind::Cab).keepFolders);
    EXPECT_TRUE(SettingsFor(ParseCommandLine("-x -u \"a.rar\" \"d/\"", Kind::Rar), Kind::Rar).keepFolders);
    EXPECT_FALSE(SettingsFor(ParseCommandLine("-e -u \"a.rar\" \"d/\"", Kind::Rar), Kind::Rar).keepFolders);
    EXPECT_FALSE(SettingsFor(ParseCommandLine("x -n -j \"a.gza\"", Kind::Bga), Kind::Bga).keepFolders);
    EXPECT_TRUE(SettingsFor(ParseCommandLine("x -n -x1 \"a.gza\"", Kind::Bga), Kind::Bga).keepFolders);
}

TEST(CommandLine, TarTakesArchiveAndFolderAsSeparateValues)
{
    auto cmd = ParseCommandLine("x --use-directory=1 -z  -f \"/in/a b.tgz\" -o \"/out dir/\" ", Kind::Tar);
    ASSERT_EQ(cmd.error, 0) << cmd.message;
    EXPECT_EQ(cmd.archive, "/in/a b.tgz");
    EXPECT_EQ(cmd.destination, "/out dir/");
    EXPECT_TRUE(SettingsFor(cmd, Kind::Tar).keepFolders);

    auto flat = ParseCommandLine("x --check-all-path=1 --use-directory=0 -B -f a.tar.bz2 -o out", Kind::Tar);
    EXPECT_EQ(flat.destination, "out/");
    EXPECT_FALSE(SettingsFor(flat, Kind::Tar).keepFolders);

    auto attached = ParseCommandLine("x -fa.tar -oout/ member", Kind::Tar);
    EXPECT_EQ(attached.archive, "a.tar");
    EXPECT_EQ(attached.destination, "out/");
    EXPECT_EQ(attached.names, std::vector<std::string>{"member"});
}

TEST(CommandLine, ResponseFileHoldsOneQuotedNamePerLine)
{
    TempDir dir;
    WriteFile(dir / "list.txt", "\"a b.txt\"\r\n\"-not-a-switch\"\r\nplain\r\n\r\n");
    auto cmd = ParseCommandLine("-x  \"/x.zip\" \"/d/\" @\"" + (dir / "list.txt") + "\"", Kind::Zip);
    ASSERT_EQ(cmd.error, 0) << cmd.message;
    EXPECT_EQ(cmd.names, (std::vector<std::string>{"a b.txt", "-not-a-switch", "plain"}));
    EXPECT_TRUE(cmd.switches.empty());

    auto missing = ParseCommandLine("x a.lzh @" + (dir / "nothing.txt"), Kind::Lha);
    EXPECT_EQ(missing.error, ARCERR_RESPONSE);
}

TEST(CommandLine, UnusableLinesAreErrors)
{
    EXPECT_EQ(ParseCommandLine("", Kind::Lha).error, ARCERR_COMMAND);
    EXPECT_EQ(ParseCommandLine("   ", Kind::Zip).error, ARCERR_COMMAND);
    EXPECT_EQ(ParseCommandLine("l a.lzh", Kind::Lha).error, ARCERR_COMMAND);
    EXPECT_EQ(ParseCommandLine("x -+ -x1", Kind::Lha).error, ARCERR_COMMAND);
    EXPECT_EQ(ParseCommandLine("x -f", Kind::Tar).error, ARCERR_COMMAND);
    // An unterminated quote runs to the end of the line.
    EXPECT_EQ(ParseCommandLine("x \"a b.lzh", Kind::Lha).archive, "a b.lzh");
}

TEST(CommandLine, MemberPathsAndLinkTargets)
{
    std::string out;
    EXPECT_TRUE(arc::SafeRelativePath("a//./b/c.txt", out));
    EXPECT_EQ(out, "a/b/c.txt");
    EXPECT_TRUE(arc::SafeRelativePath("./x", out));
    EXPECT_EQ(out, "x");
    EXPECT_TRUE(arc::SafeRelativePath("a..b/..c", out)); // dots inside names are fine
    for (const char* bad : {"/etc/passwd", "../x", "a/../../x", "a/..", "C:x", "c:/windows/x", "", ".", "./"})
        EXPECT_FALSE(arc::SafeRelativePath(bad, out)) << bad;

    EXPECT_TRUE(arc::SafeLinkTarget("a/b/link", "../c"));
    EXPECT_TRUE(arc::SafeLinkTarget("a/link", "./b/./c"));
    EXPECT_FALSE(arc::SafeLinkTarget("a/link", "b/../c")); // could climb through a link named b
    EXPECT_FALSE(arc::SafeLinkTarget("a/link", "../../c"));
    EXPECT_FALSE(arc::SafeLinkTarget("link", ".."));
    EXPECT_FALSE(arc::SafeLinkTarget("a/link", "/etc"));
    EXPECT_FALSE(arc::SafeLinkTarget("a/link", ""));
}
