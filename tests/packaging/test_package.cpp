// The Debian package made from this build: exactly the installed files, its
// dependencies worked out from the binaries, and no lintian errors.
#include "Installed.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace testsupport;
using namespace packaging;

namespace {

TEST(Package, FileListDependenciesAndLintian)
{
    TempDir out;
    const CommandResult cpack = RunShell(ShellQuote(CPACK_PROGRAM) + " --config " +
                                         ShellQuote(BUILD_DIR "/CPackConfig.cmake") + " -B " +
                                         ShellQuote(out.path()) + " -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip");
    ASSERT_EQ(cpack.exitCode, 0) << cpack.out << cpack.err;
    const std::string deb = RunShell("ls " + ShellQuote(out.path()) + "/fetchlet_*.deb").out;
    ASSERT_FALSE(deb.empty());
    const std::string package = deb.substr(0, deb.find('\n'));

    // Regular files only, as "./usr/..." paths.
    const CommandResult list = RunShell("dpkg-deb -c " + ShellQuote(package) + " | awk '$1 !~ /^d/ {print $6}'");
    ASSERT_EQ(list.exitCode, 0);
    std::set<std::string> files;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);)
        files.insert(line);
    std::set<std::string> expected;
    const std::string usr = "./usr/";
    for (const std::string& program : InstalledPrograms()) {
        expected.insert(usr + INSTALL_BINDIR "/" + program);
        expected.insert(usr + INSTALL_MANDIR "/man1/" + program + ".1.gz");
    }
    for (const std::string& file : PrivateFiles())
        expected.insert(usr + INSTALL_PRIVATEDIR "/" + file);
    // The launcher fetchlet-publish puts at the top of a copy.
    expected.insert(usr + INSTALL_PRIVATEDIR "/start-fetchlet");
    for (int size : {32, 48, 64, 128, 256})
        expected.insert(usr + INSTALL_DATADIR "/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                        "/apps/fetchlet.png");
    expected.insert(usr + INSTALL_DATADIR "/applications/com.example.Fetchlet.desktop");
    expected.insert(usr + INSTALL_DATADIR "/metainfo/com.example.Fetchlet.metainfo.xml");
    expected.insert(usr + "share/doc/fetchlet/copyright");
    expected.insert(usr + "share/doc/fetchlet/changelog.gz");
    EXPECT_EQ(files, expected);

    const std::string depends = RunShell("dpkg-deb -f " + ShellQuote(package) + " Depends").out;
    for (const char* needed : {"libqt6widgets6", "libqt6gui6", "libarchive13", "liblhasa0", "libjpeg62-turbo",
                               "qt6-qpa-plugins", "libc6"})
        EXPECT_NE(depends.find(needed), std::string::npos) << needed << " in " << depends;
    EXPECT_EQ(RunShell("dpkg-deb -f " + ShellQuote(package) + " Package").out, "fetchlet\n");

    const CommandResult lintian = RunShell("lintian --fail-on error " + ShellQuote(package));
    EXPECT_EQ(lintian.exitCode, 0) << lintian.out << lintian.err;
    EXPECT_EQ(lintian.out.find("\nE: "), std::string::npos) << lintian.out;
}

} // namespace
