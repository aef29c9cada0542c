// `cmake --install` into a temporary prefix: the layout, the libraries found
// in the private folder from a moved prefix, and the desktop entry starting
// the installed program, which downloads and extracts end to end.
#include "Installed.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
using namespace packaging;
namespace fs = std::filesystem;

namespace {

TEST(Install, LayoutAndLibrariesFoundFromAMovedPrefix)
{
    const std::string prefix = Prefix();
    ASSERT_FALSE(prefix.empty());
    const std::string bin = prefix + "/" INSTALL_BINDIR "/";
    const std::string priv = prefix + "/" INSTALL_PRIVATEDIR "/";
    const std::string data = prefix + "/" INSTALL_DATADIR "/";
    for (const std::string& program : InstalledPrograms()) {
        SCOPED_TRACE(program);
        EXPECT_EQ(::access((bin + program).c_str(), X_OK), 0);
        EXPECT_TRUE(Exists(prefix + "/" INSTALL_MANDIR "/man1/" + program + ".1.gz")) << "its manual page";
    }
    for (const std::string& file : PrivateFiles()) {
        EXPECT_TRUE(Exists(priv + file)) << file;
        EXPECT_FALSE(Exists(bin + file)) << file << " belongs in the private folder only";
    }
    const std::string entry = data + "applications/com.example.Fetchlet.desktop";
    const CommandResult desktop = RunShell("desktop-file-validate " + ShellQuote(entry));
    EXPECT_EQ(desktop.exitCode, 0) << desktop.out << desktop.err;
    EXPECT_EQ(desktop.out, "");
    const CommandResult appstream =
        RunShell("appstreamcli validate --no-net " + ShellQuote(data + "metainfo/com.example.Fetchlet.metainfo.xml"));
    EXPECT_EQ(appstream.exitCode, 0) << appstream.out << appstream.err;
    for (int size : {32, 48, 64, 128, 256}) {
        const std::string icon =
            data + "icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps/fetchlet.png";
        const CommandResult identify = RunShell("identify -format %wx%h " + ShellQuote(icon));
        EXPECT_EQ(identify.out, std::to_string(size) + "x" + std::to_string(size)) << icon;
    }

    // The installed archive tool, from a moved prefix and another folder,
    // finds the libraries in the private folder.
    const std::string moved = MovePrefix();
    TempDir work;
    WriteFile(work / "a.txt", "private folder\n");
    ASSERT_EQ(RunShell("cd " + ShellQuote(work.path()) + " && zip -q a.zip a.txt && mkdir out").exitCode, 0);
    const CommandResult arcx = RunShell("cd / && " + ShellQuote(moved + "/" INSTALL_BINDIR "/arcx") + " " +
                                        ShellQuote(work / "a.zip") + " " + ShellQuote(work / "out"));
    EXPECT_EQ(arcx.exitCode, 0) << arcx.out << arcx.err;
    EXPECT_NE(arcx.out.find("Result=0"), std::string::npos) << arcx.out;
    EXPECT_EQ(ReadFile(work / "out/a.txt"), "private folder\n");
}

TEST(Install, DesktopEntryStartsTheProgramWhichDownloadsAndExtracts)
{
    const std::string prefix = Prefix();
    ASSERT_FALSE(prefix.empty());
    XvfbDisplay display;
    ASSERT_TRUE(display.ok());
    Offer offer;
    ASSERT_NO_FATAL_FAILURE(MakeOffer(offer));
    TempDir work;
    const std::string bin = prefix + "/" INSTALL_BINDIR;
    const std::string title = "Fetchlet インストール版";
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(work.path(), bin, offer, title, false));

    std::string message;
    ASSERT_TRUE(LaunchDesktopEntry(prefix + "/" INSTALL_DATADIR "/applications/com.example.Fetchlet.desktop",
                                   work.path(), display.name(), bin + ":/usr/bin:/bin", message))
        << message;
    DownloadThroughMainWindow(display, title, work.path(), offer);
}

} // namespace
