// fetchlet-publish from the installed program: the copy holds what an end
// user needs and nothing of the publisher's layout, runs unpacked elsewhere
// with the install gone, and refuses what it must not do.
#include "Installed.h"
#include "MinisignTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <unistd.h>

using namespace testsupport;
using namespace packaging;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string>& StubFiles()
{
    static const std::vector<std::string> stubs = {
#include "StubFiles.inc"
    };
    return stubs;
}

// What a publisher's folder holds after test downloads: the header capture,
// the settings' plain copy, a part file and the download itself, in the
// folder and in "DSkin" (where the settings window's file list leaves the
// current directory), and a picture the settings do not name.
void LeaveLeftovers(const std::string& folder, const std::string& skins)
{
    for (const std::string& where : {folder, skins}) {
        WriteFile(where + "/DL.dat", "HTTP/1.0 200 OK\r\nServer: publisher\r\n");
        WriteFile(where + "/dl2.ini", "plain settings\r\n");
        WriteFile(where + "/sample.zip.part", "half");
        WriteFile(where + "/sample.zip.part.info", "http://127.0.0.1/sample.zip\n\"v\"\n100\n");
        WriteFile(where + "/sample.zip", "the download");
        WriteFile(where + "/DL.lock", "");
        fs::create_directories(where + "/.fetchlet-staging-a1b2c3");
        WriteFile(where + "/.fetchlet-staging-a1b2c3/member.txt", "half extracted");
    }
    WriteFile(skins + "/unused.bmp", "BM");
}

std::vector<std::string> FilesBelow(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(fs::relative(entry.path(), folder).string());
    return files;
}

// Sets the address (line 7) and the extraction switch (line 10) of the
// folder's DL.ini.
void SetAddress(const std::string& folder, const std::string& bin, const std::string& url, bool extract)
{
    const CommandResult decoded = RunShell(ShellQuote(bin + "/dlini") + " decode " + ShellQuote(folder + "/DL.ini"));
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    std::istringstream in(decoded.out);
    std::string plain;
    int index = 0;
    for (std::string line; std::getline(in, line); ++index)
        plain += (index == 6 ? url : index == 9 ? (extract ? "true" : "false") : line) + "\n";
    WriteFile(folder + "/plain.txt", plain);
    const CommandResult encoded = RunShell("cd " + ShellQuote(folder) + " && " + ShellQuote(bin + "/dlini") +
                                           " encode DL.ini < plain.txt && rm plain.txt");
    ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
}

// The install's tool and a publisher's folder prepared for it ("Fetchlet"
// as the title), offering a ZIP archive.
struct Prepared {
    Offer offer;
    TempDir publisher, release;
    std::string bin, tool, folder;
};

void Prepare(Prepared& prepared, bool publisherLayout)
{
    const std::string prefix = Prefix();
    ASSERT_FALSE(prefix.empty());
    ASSERT_NO_FATAL_FAILURE(MakeOffer(prepared.offer));
    prepared.bin = prefix + "/" INSTALL_BINDIR;
    prepared.tool = ShellQuote(prepared.bin + "/fetchlet-publish");
    prepared.folder = prepared.publisher / "work";
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(prepared.folder, prepared.bin, prepared.offer, "Fetchlet", publisherLayout));
}

bool IsElf(const std::string& path)
{
    return ReadFile(path).compare(0, 4, "\x7f" "ELF") == 0;
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
    LeaveLeftovers(folder, folder + "/dskin");

    const std::string out = release / "MyDownload";
    const CommandResult publish = RunShell(ShellQuote(bin + "/fetchlet-publish") + " " + ShellQuote(folder) + " " +
                                           ShellQuote(out));
    ASSERT_EQ(publish.exitCode, 0) << publish.out << publish.err;
    EXPECT_EQ(LastLine(publish.out), out + ".tar.gz");
    EXPECT_EQ(publish.err.find("extraction is on"), std::string::npos) << "an archive to extract: " << publish.err;
    const std::set<std::string> stubs(StubFiles().begin(), StubFiles().end());
    EXPECT_FALSE(stubs.empty());
    for (const std::string& file : PrivateFiles())
        EXPECT_EQ(Exists(out + "/" + file), stubs.count(file) == 0) << file << ": the stubs stay out";
    for (const char* file : {"fetchlet", "start-fetchlet", "run-fetchlet", "Fetchlet.desktop"})
        EXPECT_EQ(::access((out + "/" + file).c_str(), X_OK), 0) << file;
    EXPECT_EQ(ReadFile(out + "/DL.ini"), ReadFile(folder + "/DL.ini"));
    // Only what the end user needs: the settings, the pictures they name,
    // the program and its parts.
    const std::vector<std::string> files = FilesBelow(out);
    std::vector<std::string> outside;
    for (const std::string& file : files)
        if (file != "DL.ini" && file != "DSkin/skin.jpg" && file != "fetchlet" && file != "start-fetchlet" &&
            file != "run-fetchlet" && file != "Fetchlet.desktop" && file != "fetchlet.files" && file != "qt.conf" &&
            std::find(PrivateFiles().begin(), PrivateFiles().end(), file) == PrivateFiles().end() &&
            file.rfind("lib/", 0) != 0 && file.rfind("plugins/", 0) != 0 && file.rfind("fonts/", 0) != 0 &&
            file.rfind("translations/qtbase_", 0) != 0)
            outside.push_back(file);
    EXPECT_EQ(outside, std::vector<std::string>()) << "files the end user does not need";
    EXPECT_EQ(ReadFile(out + "/DSkin/skin.jpg"), ReadFile(SKIN_JPEG));
    // Qt with its xcb plugin and the libraries the baseline lacks are
    // bundled; what every X desktop has is not. One font.
    // libOpenGL and the xcb extension libraries are not on every desktop
    // (GL's packages bring some of the latter only through Mesa's drivers).
    for (const char* file :
         {"lib/libQt6Core.so.6", "lib/libQt6Gui.so.6", "lib/libQt6Widgets.so.6", "lib/libQt6XcbQpa.so.6",
          "plugins/platforms/libqxcb.so", "plugins/imageformats/libqico.so", "lib/libxkbcommon-x11.so.0",
          "lib/libxcb-icccm.so.4", "lib/libOpenGL.so.0", "lib/libxcb-shape.so.0", "lib/libxcb-xkb.so.1",
          "lib/libxcb-randr.so.0", "lib/libxcb-xfixes.so.0", "lib/libxcb-sync.so.1", "lib/libxcb-shm.so.0",
          "lib/libarchive.so.13", "lib/liblhasa.so.0", "fonts/ipagp.ttf", "fonts/copyright",
          "translations/qtbase_ja.qm"})
        EXPECT_TRUE(Exists(out + "/" + file)) << file;
    for (const char* absent : {"libc.so.6", "libstdc++.so.6", "libz.so.1", "libX11.so.6", "libX11-xcb.so.1",
                               "libxcb.so.1", "libxcb-render.so.0", "libxkbcommon.so.0", "libfontconfig.so.1",
                               "libfreetype.so.6", "libglib-2.0.so.0", "libicuuc.so.72", "libdbus-1.so.3",
                               "libGLX.so.0", "libssl.so.3", "libfetchlet_archcore.so"})
        EXPECT_FALSE(Exists(out + "/lib/" + absent)) << absent;
    EXPECT_FALSE(Exists(out + "/fonts/ipag.ttf"));
    EXPECT_NE(publish.out.find("bundled libQt6Core.so.6"), std::string::npos) << publish.out;
    // Every ELF file stripped, and every part the launcher checks there.
    int elves = 0;
    for (const std::string& file : files)
        if (IsElf(out + "/" + file)) {
            ++elves;
            const CommandResult sections = RunShell("readelf -S -W " + ShellQuote(out + "/" + file));
            EXPECT_EQ(sections.out.find(".symtab"), std::string::npos) << file;
            EXPECT_EQ(sections.out.find(".debug_"), std::string::npos) << file;
        }
    EXPECT_GT(elves, 20);
    std::istringstream parts(ReadFile(out + "/fetchlet.files"));
    for (std::string part; std::getline(parts, part);)
        EXPECT_TRUE(Exists(out + "/" + part)) << part;
    const CommandResult desktop = RunShell("desktop-file-validate " + ShellQuote(out + "/Fetchlet.desktop"));
    EXPECT_EQ(desktop.exitCode, 0) << desktop.out << desktop.err;

    // What the user gets: the archive alone, unpacked somewhere else, with
    // the publisher's copy, folder and install out of reach.
    fs::remove_all(out);
    fs::remove_all(folder);
    prefix = MovePrefix();
    ASSERT_EQ(RunShell("tar -C " + ShellQuote(user.path()) + " -xzf " + ShellQuote(out + ".tar.gz")).exitCode, 0);
    const std::string copy = user / "MyDownload";
    // The copy's own libraries win over the environment's.
    const CommandResult ldd =
        RunShell("LD_LIBRARY_PATH=/usr/lib/x86_64-linux-gnu:/lib ldd " + ShellQuote(copy + "/fetchlet") + " " +
                 ShellQuote(copy + "/UNLHA32.DLL") + " " + ShellQuote(copy + "/plugins/platforms/libqxcb.so"));
    EXPECT_NE(ldd.out.find("libQt6Core.so.6 => " + copy + "/lib/libQt6Core.so.6"), std::string::npos) << ldd.out;
    EXPECT_NE(ldd.out.find("libarchive.so.13 => " + copy + "/lib/libarchive.so.13"), std::string::npos) << ldd.out;
    EXPECT_NE(ldd.out.find("libfetchlet_archcore.so => " + copy + "/libfetchlet_archcore.so"), std::string::npos)
        << ldd.out;
    EXPECT_NE(ldd.out.find("libQt6XcbQpa.so.6 => " + copy + "/plugins/platforms/../../lib/libQt6XcbQpa.so.6"),
              std::string::npos)
        << ldd.out;
    EXPECT_EQ(ldd.out.find("not found"), std::string::npos) << ldd.out;

    // Its desktop entry, double-clicked in a file manager: GLib tells the
    // entry its own place (%k), and the program starts in the copy's folder
    // whatever the file manager's.
    const std::string entry = copy + "/Fetchlet.desktop";
    std::string message;
    ASSERT_TRUE(LaunchDesktopEntry(entry, "/", display.name(), "/usr/bin:/bin", message)) << message;
    ASSERT_NO_FATAL_FAILURE(StartedIn(display, title, copy));
    // `gio launch` in the copy's folder tells it nothing: the copy is that
    // folder's.
    const std::string log = release / "gio.log";
    EXPECT_EQ(GioLaunch(entry, copy, display.name(), "/usr/bin:/bin", log).exitCode, 0) << ReadFile(log);
    DownloadThroughMainWindow(display, title, copy, offer);
    // Anywhere else nothing tells it where the copy is, which it says.
    EXPECT_EQ(GioLaunch(entry, "/", display.name(), "/usr/bin:/bin", log).exitCode, 0) << ReadFile(log);
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(30), [&] {
        return ReadFile(log).find("Fetchlet のフォルダが分かりません") != std::string::npos;
    })) << ReadFile(log);

    // A part gone: the launcher names it, on standard error without a
    // display and in its window with one.
    fs::remove(copy + "/lib/libQt6Gui.so.6");
    const std::string launcher = ShellQuote(copy + "/start-fetchlet");
    const CommandResult headless = RunShell("cd / && env -u DISPLAY " + launcher);
    EXPECT_EQ(headless.exitCode, 1);
    EXPECT_NE(headless.err.find("lib/libQt6Gui.so.6"), std::string::npos) << headless.err;
    const CommandResult windowed =
        RunShell("cd / && (" + display.Env() + launcher + " & p=$!; " + display.Env() +
                 "xdotool search --sync --onlyvisible --name '^Fetchlet$' key Return >/dev/null; wait $p)");
    EXPECT_EQ(windowed.exitCode, 1) << "the window closes with Return";
    EXPECT_NE(windowed.err.find("lib/libQt6Gui.so.6"), std::string::npos) << windowed.err;
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
    LeaveLeftovers(folder, folder + "/DSkin");
    WriteFile(folder + "/Data/DL.dat", "HTTP/1.0 200 OK\r\n");
    const CommandResult keep = RunShell(tool + " --keep-publisher-layout " + ShellQuote(folder) + " " + ShellQuote(kept));
    ASSERT_EQ(keep.exitCode, 0) << keep.err;
    EXPECT_TRUE(Exists(kept + "/マニュアル.html"));
    EXPECT_TRUE(fs::is_directory(kept + "/Data"));
    EXPECT_TRUE(Exists(kept + ".tar.gz"));
    // The publisher's copy: every picture to choose from and the stubs, but
    // still no leftovers.
    EXPECT_TRUE(Exists(kept + "/DSkin/unused.bmp"));
    for (const std::string& stub : StubFiles())
        EXPECT_EQ(::access((kept + "/" + stub).c_str(), X_OK), 0) << stub;
    for (const std::string& file : FilesBelow(kept)) {
        const std::string name = fs::path(file).filename().string();
        EXPECT_TRUE(name != "DL.dat" && name != "dl2.ini" && name != "sample.zip" && name != "sample.zip.part" &&
                    name != "sample.zip.part.info" && name != "DL.lock" && name != "member.txt")
            << file;
    }
    // Over plain http with neither a key nor a pin, it says what that means.
    EXPECT_NE(keep.err.find("anyone on the path can hand the end user another file"), std::string::npos) << keep.err;

    // The publisher's key and pin go with the copy, checked as the program
    // reads them; then there is nothing to warn of.
    const MinisignKey key = MinisignKey::Make(publisher.path(), "publisher");
    ASSERT_TRUE(key.ok);
    WriteFile(folder + "/DL.pub", "untrusted comment: minisign public key\nRWQbroken\n");
    const std::string signedCopy = release / "Signed";
    CommandResult publish = RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(signedCopy));
    EXPECT_EQ(publish.exitCode, 1);
    EXPECT_NE(publish.err.find("is not a minisign public key"), std::string::npos) << publish.err;
    EXPECT_FALSE(Exists(signedCopy));
    fs::copy_file(key.pub, folder + "/DL.pub", fs::copy_options::overwrite_existing);
    WriteFile(folder + "/DL.sha256", std::string(64, 'a') + "  other.zip\n");
    publish = RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(signedCopy));
    EXPECT_EQ(publish.exitCode, 1);
    EXPECT_NE(publish.err.find("DL.sha256"), std::string::npos) << publish.err;
    WriteFile(folder + "/DL.sha256", std::string(64, 'a') + "  " + fs::path(offer.url).filename().string() + "\n");
    publish = RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(signedCopy));
    ASSERT_EQ(publish.exitCode, 0) << publish.err;
    EXPECT_EQ(publish.err.find("warning"), std::string::npos) << publish.err;
    EXPECT_EQ(ReadFile(signedCopy + "/DL.pub"), ReadFile(key.pub));
    // Mirrors go with it; a line that is no http or https address does not.
    WriteFile(folder + "/DL.mirrors", "# mirrors\nhttps://mirror.example/f.zip\nfile:///etc/passwd\n");
    const std::string mirrored = release / "Mirrored";
    publish = RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(mirrored));
    EXPECT_EQ(publish.exitCode, 1);
    EXPECT_NE(publish.err.find("DL.mirrors の 3 行目"), std::string::npos) << publish.err;
    WriteFile(folder + "/DL.mirrors", "# mirrors\nhttps://mirror.example/f.zip\n");
    publish = RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(mirrored));
    ASSERT_EQ(publish.exitCode, 0) << publish.err;
    EXPECT_EQ(ReadFile(mirrored + "/DL.mirrors"), ReadFile(folder + "/DL.mirrors"));
    EXPECT_EQ(ReadFile(signedCopy + "/DL.sha256"), ReadFile(folder + "/DL.sha256"));

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

TEST(Publish, WarnsWhenExtractionIsOnForANameOfNoArchiveKind)
{
    Prepared prepared;
    ASSERT_NO_FATAL_FAILURE(Prepare(prepared, false));
    const std::string &bin = prepared.bin, &tool = prepared.tool, &folder = prepared.folder;

    // The warning names the file; the copy is made all the same.
    ASSERT_NO_FATAL_FAILURE(SetAddress(folder, bin, "https://127.0.0.1/files/manual.pdf", true));
    const std::string out = prepared.release / "Copy";
    const CommandResult made = RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(out));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_NE(made.err.find("warning: extraction is on in DL.ini, but \"manual.pdf\" is not named as an archive"),
              std::string::npos)
        << made.err;
    EXPECT_TRUE(Exists(out + "/fetchlet") && Exists(out + ".tar.gz"));

    // What the settings are warned for is said before OUT's place is
    // checked: a refused OUT (inside DSkin) shows it at little cost. Only while extraction is
    // on, the kind as the archive component tells it by name; an ".exe" is
    // extracted when it turns out a self-extracting archive.
    const auto said = [&](const std::string& url, bool extract) {
        SetAddress(folder, bin, url, extract);
        const CommandResult refused =
            RunShell(tool + " " + ShellQuote(folder) + " " + ShellQuote(folder + "/DSkin/copy"));
        EXPECT_EQ(refused.exitCode, 1) << url;
        return refused.err;
    };
    EXPECT_EQ(said("http://127.0.0.1/files/manual.pdf", false).find("extraction is on"), std::string::npos);
    EXPECT_EQ(said("http://127.0.0.1/files/SETUP.LZH", true).find("extraction is on"), std::string::npos);
    EXPECT_EQ(said("http://127.0.0.1/files/a.tar.bz2", true).find("extraction is on"), std::string::npos);
    EXPECT_NE(said("http://127.0.0.1/files/setup.exe", true)
                  .find("\"setup.exe\" is extracted only when it is a self-extracting archive"),
              std::string::npos);
    EXPECT_NE(said("http://127.0.0.1/files/", true).find("the file of http://127.0.0.1/files/ is not named"),
              std::string::npos);
}

} // namespace
