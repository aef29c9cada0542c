#include "Installed.h"

#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace packaging {

namespace {

TempDir& InstallBase()
{
    static TempDir base;
    return base;
}

std::string& CurrentPrefix()
{
    static std::string prefix = [] {
        const std::string p = InstallBase() / "prefix";
        const CommandResult r = RunShell(ShellQuote(CMAKE_PROGRAM) + " --install " + ShellQuote(BUILD_DIR) +
                                         " --prefix " + ShellQuote(p));
        if (r.exitCode != 0) {
            ADD_FAILURE() << "cmake --install failed:\n" << r.out << r.err;
            return std::string();
        }
        return p;
    }();
    return prefix;
}

bool Running(pid_t pid)
{
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH))
        return false;
    // A zombie has ended too.
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] != 'Z';
}

// The sanitizer settings of a program started through a desktop entry.
// Under X, Qt's accessibility bridge keeps a D-Bus connection to the end of
// the process, allocated through Qt code without frame pointers: the
// program records whole allocation stacks, so that the suppressions
// (tests/lsan.supp) can tell Qt's leaks from the program's.
std::string LaunchedAsanOptions()
{
    const char* asan = std::getenv("ASAN_OPTIONS");
    return asan ? std::string(asan) + ":fast_unwind_on_malloc=0" : std::string();
}

} // namespace

std::string LastLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const size_t n = text.rfind('\n');
    return n == std::string::npos ? text : text.substr(n + 1);
}

const std::vector<std::string>& InstalledPrograms()
{
    static const std::vector<std::string> programs = {
#include "InstalledPrograms.inc"
    };
    return programs;
}

const std::vector<std::string>& PrivateFiles()
{
    static const std::vector<std::string> files = {
#include "PrivateFiles.inc"
    };
    return files;
}

const std::string& Prefix()
{
    return CurrentPrefix();
}

std::string MovePrefix()
{
    std::string& prefix = CurrentPrefix();
    if (prefix.empty())
        return prefix;
    const std::string moved = prefix + "-moved";
    std::error_code error;
    fs::rename(prefix, moved, error);
    if (error) {
        ADD_FAILURE() << "cannot move the prefix: " << error.message();
        return prefix;
    }
    prefix = moved;
    return prefix;
}

void MakeOffer(Offer& offer)
{
    ASSERT_TRUE(offer.server.ok()) << offer.server.log();
    const std::string p = offer.payload.path();
    fs::create_directories(p + "/docs");
    WriteFile(p + "/readme.txt", "Fetchlet\r\n");
    WriteFile(p + "/docs/はじめに.txt", "インストールしたプログラムで取得しました。\n");
    WritePatternFile(p + "/docs/pattern.bin", 700000);
    offer.zip = offer.server.root() + "/sample.zip";
    const CommandResult zip = RunShell("cd " + ShellQuote(p) + " && zip -qr " + ShellQuote(offer.zip) + " .");
    ASSERT_EQ(zip.exitCode, 0) << zip.err;
    offer.url = offer.server.url("/sample.zip");
}

void MakeSecureOffer(Offer& offer, testsupport::TestCA& ca)
{
    ASSERT_NO_FATAL_FAILURE(MakeOffer(offer));
    ASSERT_TRUE(ca.ok());
    offer.secure = std::make_unique<testsupport::TlsNginx>(ca.Issue("127.0.0.1", "IP:127.0.0.1"));
    ASSERT_TRUE(offer.secure->ok()) << offer.secure->log();
    fs::copy_file(offer.zip, offer.secure->root() + "/sample.zip");
    offer.url = offer.secure->url("/sample.zip");
}

void PrepareFolder(const std::string& folder, const std::string& toolFolder, const Offer& offer,
                   const std::string& title, bool publisherLayout)
{
    fs::create_directories(folder + "/DSkin");
    fs::copy_file(SKIN_JPEG, folder + "/DSkin/skin.jpg", fs::copy_options::overwrite_existing);
    if (publisherLayout) {
        fs::create_directories(folder + "/Data");
        WriteFile(folder + "/マニュアル.html", "<p>manual</p>\n");
    }
    const CommandResult crc = RunShell(ShellQuote(toolFolder + "/crclist") + " " + ShellQuote(offer.zip));
    ASSERT_EQ(crc.exitCode, 0) << crc.err;
    const size_t at = crc.out.find("CRCText=");
    ASSERT_NE(at, std::string::npos) << crc.out;
    const std::string crcText = crc.out.substr(at + 8, crc.out.find('\n', at) - at - 8);
    const long long kbytes = static_cast<long long>(fs::file_size(offer.zip)) / 1024;
    const std::string plain = "skin.jpg\nDownLoad\n1722267\n12713468\n" + title + "\n\n" + offer.url +
                              "\nfalse\n\ntrue\n" + crcText + "\n" + std::to_string(kbytes) +
                              "\n16777215\n6462440\nタイプＡ\n";
    WriteFile(folder + "/plain.txt", plain);
    const CommandResult encode = RunShell("cd " + ShellQuote(folder) + " && " + ShellQuote(toolFolder + "/dlini") +
                                          " encode DL.ini < plain.txt && rm plain.txt");
    ASSERT_EQ(encode.exitCode, 0) << encode.err;
}

bool LaunchDesktopEntry(const std::string& entry, const std::string& startFolder, const std::string& display,
                        const std::string& path, std::string& message)
{
    // The program starts in the launcher's current directory, as from a
    // file manager's folder; GLib looks the command up on the launcher's
    // own PATH (and drops an entry whose command it cannot find).
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", path.c_str(), 1);
    GDesktopAppInfo* app = g_desktop_app_info_new_from_filename(entry.c_str());
    if (!app) {
        ::setenv("PATH", oldPath.c_str(), 1);
        message = "GLib cannot read " + entry + " (or finds no command for it)";
        return false;
    }
    GAppLaunchContext* context = g_app_launch_context_new();
    g_app_launch_context_setenv(context, "DISPLAY", display.c_str());
    g_app_launch_context_setenv(context, "PATH", path.c_str());
    g_app_launch_context_unsetenv(context, "QT_QPA_PLATFORM");
    g_app_launch_context_unsetenv(context, "QT_SCALE_FACTOR");
    if (const std::string asan = LaunchedAsanOptions(); !asan.empty())
        g_app_launch_context_setenv(context, "ASAN_OPTIONS", asan.c_str());
    char* oldFolder = ::getcwd(nullptr, 0);
    bool ok = ::chdir(startFolder.c_str()) == 0;
    GError* error = nullptr;
    if (ok && !g_app_info_launch(G_APP_INFO(app), nullptr, context, &error)) {
        message = error ? error->message : "launch failed";
        ok = false;
    }
    if (error)
        g_error_free(error);
    if (oldFolder) {
        if (::chdir(oldFolder) != 0)
            ok = false;
        std::free(oldFolder);
    }
    ::setenv("PATH", oldPath.c_str(), 1);
    g_object_unref(context);
    g_object_unref(app);
    return ok;
}

CommandResult GioLaunch(const std::string& entry, const std::string& startFolder, const std::string& display,
                        const std::string& path, const std::string& log)
{
    std::string environment = "env -u QT_QPA_PLATFORM -u QT_SCALE_FACTOR " + ShellQuote("DISPLAY=" + display) + " " +
                              ShellQuote("PATH=" + path);
    if (const std::string asan = LaunchedAsanOptions(); !asan.empty())
        environment += " " + ShellQuote("ASAN_OPTIONS=" + asan);
    return RunShell("cd " + ShellQuote(startFolder) + " && " + environment + " /usr/bin/gio launch " +
                    ShellQuote(entry) + " >" + ShellQuote(log) + " 2>&1");
}

namespace {

// The main window titled title and its process; whether that works in
// workFolder (the same folder, also seen from another root, a chroot) is
// checked.
void MainWindowIn(const XvfbDisplay& display, const std::string& title, const std::string& workFolder,
                  std::string& window, pid_t& pid)
{
    window = display.WaitForWindow(title);
    ASSERT_FALSE(window.empty()) << "no window \"" << title << "\"";
    pid = display.WindowPid(window);
    ASSERT_GT(pid, 0);
    struct stat cwd{}, work{};
    EXPECT_TRUE(::stat(("/proc/" + std::to_string(pid) + "/cwd").c_str(), &cwd) == 0 &&
                ::stat(workFolder.c_str(), &work) == 0 && cwd.st_dev == work.st_dev && cwd.st_ino == work.st_ino)
        << "the working folder";
}

struct KillOnExit {
    pid_t pid;
    ~KillOnExit()
    {
        if (Running(pid))
            ::kill(pid, SIGKILL);
    }
};

} // namespace

void StartedIn(const XvfbDisplay& display, const std::string& title, const std::string& workFolder)
{
    std::string window;
    pid_t pid = -1;
    MainWindowIn(display, title, workFolder, window, pid);
    if (pid <= 0)
        return;
    KillOnExit stop{pid};
    ::kill(pid, SIGTERM);
    EXPECT_TRUE(WaitUntil(std::chrono::seconds(30), [&] { return !Running(pid); })) << "the program did not end";
}

void DownloadThroughMainWindow(const XvfbDisplay& display, const std::string& title, const std::string& workFolder,
                               const Offer& offer)
{
    std::string window;
    pid_t pid = -1;
    ASSERT_NO_FATAL_FAILURE(MainWindowIn(display, title, workFolder, window, pid));
    KillOnExit stop{pid};

    // The download button: client position 232, 216, 107 x 25.
    ASSERT_TRUE(display.Click(window, 285, 228));
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(offer.payload.path()))
        if (entry.is_regular_file())
            files.push_back(fs::relative(entry.path(), offer.payload.path()).string());
    const bool extracted = WaitUntil(std::chrono::seconds(120), [&] {
        for (const std::string& f : files)
            if (!Exists(workFolder + "/" + f) ||
                ReadFile(workFolder + "/" + f) != ReadFile(offer.payload.path() + "/" + f))
                return false;
        return ReadFile(workFolder + "/sample.zip") == ReadFile(offer.zip);
    });
    if (!extracted)
        display.Screenshot(window, workFolder + "/failed.png");
    ASSERT_TRUE(extracted) << "the archive did not arrive extracted in " << workFolder;
    // Close (the same place) ends the program.
    ASSERT_TRUE(WaitUntil(std::chrono::seconds(30), [&] {
        display.Click(window, 285, 228);
        return WaitUntil(std::chrono::seconds(3), [&] { return !Running(pid); });
    })) << "the program did not close";
}

void DownloadThroughAtspi(const XvfbDisplay& display, const AtspiBus& bus, const std::string& title,
                          const std::string& workFolder, const Offer& offer)
{
    const AtspiFindings found = DriveThroughAtspi(display, bus, title, "DownLoad", "終了");
    const std::string log = found.output + found.errors;
    EXPECT_EQ(found.error, "") << log;
    EXPECT_EQ(found.frame, title) << log;
    EXPECT_EQ(found.pressed, "DownLoad") << log;
    EXPECT_EQ(found.status, "終了") << log;
    EXPECT_EQ(found.showing, std::vector<std::string>{"Close"}) << log;
    EXPECT_TRUE(found.closed) << log;
    for (const auto& entry : fs::recursive_directory_iterator(offer.payload.path())) {
        if (!entry.is_regular_file())
            continue;
        const std::string name = fs::relative(entry.path(), offer.payload.path()).string();
        EXPECT_EQ(ReadFile(workFolder + "/" + name), ReadFile(entry.path().string())) << name;
    }
}

} // namespace packaging
