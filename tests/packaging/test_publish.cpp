// fetchlet-publish from the installed program: the copy holds what an end
// user needs and nothing of the publisher's layout, runs unpacked elsewhere
// with the install gone, and refuses what it must not do.
#include "Installed.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
using namespace packaging;
namespace fs = std::filesystem;

namespace {

std::string LastLine(const std::string& text)
{
    std::string t = text;
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    const size_t n = t.rfind('\n');
    return n == std::string::npos ? t : t.substr(n + 1);
}

TEST(Publish, CopyUnpackedElsewhereRunsWithoutTheInstall)
{
    std::string prefix = Prefix();
    ASSERT_FALSE(prefix.empty());
    XvfbDisplay display;
    ASSERT_TRUE(display.ok());
    Offer offer;
    ASSERT_NO_FATAL_FAILURE(MakeOffer(offer));
    TempDir publisher, release, user;
    const std::string bin = prefix + "/" INSTALL_BINDIR;
    const std::string title = "Fetchlet 配布版";
    const std::string folder = publisher / "work";
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(folder, bin, offer, title, true));
    // Names found whatever their case, as the program finds them.
    fs::rename(folder + "/DSkin", folder + "/dskin");

    const std::string out = release / "MyDownload";
    const CommandResult publish = RunShell(ShellQuote(bin + "/fetchlet-publish") + " " + ShellQuote(folder) + " " +
                                           ShellQuote(out));
    ASSERT_EQ(publish.exitCode, 0) << publish.out << publish.err;
    EXPECT_EQ(LastLine(publish.out), out + ".tar.gz");
    for (const std::string& file : PrivateFiles())
        EXPECT_TRUE(Exists(out + "/" + file)) << file;
    for (const char* file : {"fetchlet", "run-fetchlet", "Fetchlet.desktop"})
        EXPECT_EQ(::access((out + "/" + file).c_str(), X_OK), 0) << file;
    EXPECT_EQ(ReadFile(out + "/DL.ini"), ReadFile(folder + "/DL.ini"));
    EXPECT_EQ(ReadFile(out + "/DSkin/skin.jpg"), ReadFile(SKIN_JPEG));
    EXPECT_FALSE(Exists(out + "/マニュアル.html"));
    EXPECT_FALSE(Exists(out + "/Data"));
    // The Japanese font and Qt's translations go along for systems without
    // them.
    EXPECT_TRUE(Exists(out + "/fonts/ipagp.ttf"));
    EXPECT_TRUE(Exists(out + "/fonts/copyright"));
    EXPECT_TRUE(Exists(out + "/translations/qtbase_ja.qm"));
    // The archiver libraries' own libraries are bundled; Qt and the C
    // library, which every such system has, are not.
    EXPECT_TRUE(Exists(out + "/lib/libarchive.so.13"));
    EXPECT_TRUE(Exists(out + "/lib/liblhasa.so.0"));
    for (const char* absent : {"libQt6Core.so.6", "libQt6Widgets.so.6", "libc.so.6", "libstdc++.so.6", "libz.so.1"})
        EXPECT_FALSE(Exists(out + "/lib/" + absent)) << absent;
    EXPECT_NE(publish.out.find("bundled libarchive.so.13"), std::string::npos) << publish.out;
    const CommandResult desktop = RunShell("desktop-file-validate " + ShellQuote(out + "/Fetchlet.desktop"));
    EXPECT_EQ(desktop.exitCode, 0) << desktop.out << desktop.err;

    // What the user gets: the archive alone, unpacked somewhere else, with
    // the publisher's copy, folder and install out of reach.
    fs::remove_all(out);
    fs::remove_all(folder);
    prefix = MovePrefix();
    ASSERT_EQ(RunShell("tar -C " + ShellQuote(user.path()) + " -xzf " + ShellQuote(out + ".tar.gz")).exitCode, 0);
    const std::string copy = user / "MyDownload";
    const CommandResult ldd = RunShell("LD_LIBRARY_PATH=" + ShellQuote(copy + "/lib") + " ldd " +
                                       ShellQuote(copy + "/UNLHA32.DLL"));
    EXPECT_NE(ldd.out.find("libarchive.so.13 => " + copy + "/lib/libarchive.so.13"), std::string::npos) << ldd.out;
    EXPECT_EQ(ldd.out.find("not found"), std::string::npos) << ldd.out;

    std::string message;
    ASSERT_TRUE(LaunchDesktopEntry(copy + "/Fetchlet.desktop", "/", display.name(), "/usr/bin:/bin", message))
        << message;
    DownloadThroughMainWindow(display, title, copy, offer);
}

TEST(Publish, KeepsTheLayoutOnlyWhenAskedAndRefusesWhatItMustNot)
{
    const std::string prefix = Prefix();
    ASSERT_FALSE(prefix.empty());
    Offer offer;
    ASSERT_NO_FATAL_FAILURE(MakeOffer(offer));
    TempDir publisher, release;
    const std::string bin = prefix + "/" INSTALL_BINDIR;
    const std::string tool = ShellQuote(bin + "/fetchlet-publish");
    const std::string folder = publisher / "work";
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(folder, bin, offer, "Fetchlet", true));

    const std::string kept = release / "Kept";
    const CommandResult keep = RunShell(tool + " --keep-publisher-layout " + ShellQuote(folder) + " " + ShellQuote(kept));
    ASSERT_EQ(keep.exitCode, 0) << keep.err;
    EXPECT_TRUE(Exists(kept + "/マニュアル.html"));
    EXPECT_TRUE(fs::is_directory(kept + "/Data"));
    EXPECT_TRUE(Exists(kept + ".tar.gz"));

    // An existing OUT is never overwritten.
    const CommandResult again = RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(kept));
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
    EXPECT_TRUE(Exists(kept + "/マニュアル.html"));
    // A folder that was never prepared: nothing is made.
    TempDir empty;
    const std::string none = release / "None";
    const CommandResult unprepared = RunShell(tool + " " + ShellQuote(empty.path()) + " " + ShellQuote(none));
    EXPECT_EQ(unprepared.exitCode, 1);
    EXPECT_NE(unprepared.err.find("DL.ini"), std::string::npos) << unprepared.err;
    EXPECT_FALSE(Exists(none));
    EXPECT_FALSE(Exists(none + ".tar.gz"));
    // The copy cannot lie inside what it copies.
    const CommandResult inside =
        RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(folder + "/DSkin/copy"));
    EXPECT_EQ(inside.exitCode, 1);
    EXPECT_FALSE(Exists(folder + "/DSkin/copy"));
    // Nothing half made is left beside the outputs.
    for (const auto& entry : fs::directory_iterator(release.path()))
        EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos) << entry.path();
}

} // namespace
