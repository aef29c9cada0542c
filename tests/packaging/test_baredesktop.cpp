// The end user's copy on a bare Debian 12 desktop: a minbase chroot with
// only the desktop baseline (scripts/bare-desktop, made on the first run and
// kept; GL there is without libOpenGL), entered in a mount namespace of its own so that its mounts vanish
// with the run. The copy, unpacked into a folder that is then renamed to a
// name with blanks and Japanese, finds every library there, starts through
// its launcher on the host's Xvfb, downloads over https from nginx on the
// loopback (its own TLS library, the system's trust store), checks the CRC
// and extracts; mounted read-only, the download fails with
// the program's own message and the program runs on.
//
// Skipped (with the reason) where no chroot can be made: not root, no
// debootstrap, no mount namespace, no Debian mirror reachable.
#include "Installed.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using namespace packaging;
namespace fs = std::filesystem;

namespace {

struct Chroot {
    std::string root;
    std::string skip; // why there is none
};

const Chroot& TheChroot()
{
    static const Chroot chroot = [] {
        Chroot c;
        if (::geteuid() != 0) {
            c.skip = "debootstrap, chroot and mounting need root";
            return c;
        }
        if (RunShell("unshare -m --propagation private true").exitCode != 0) {
            c.skip = "no mount namespace can be made here (unshare -m fails)";
            return c;
        }
        const CommandResult made = RunShell(ShellQuote(BARE_DESKTOP_SCRIPT));
        if (made.exitCode == 77) {
            c.skip = made.err;
            return c;
        }
        if (made.exitCode != 0) {
            ADD_FAILURE() << "scripts/bare-desktop failed:\n" << made.out << made.err;
            return c;
        }
        c.root = LastLine(made.out);
        return c;
    }();
    return chroot;
}

// The sanitizer settings of the test run, pointed at the chroot's view: the
// report folder is mounted at /mnt/reports, the suppressions copied to
// /mnt/lsan.supp. reports receives the host's report folder ("" if none).
std::vector<std::string> SanitizerEnvironment(std::string& reports)
{
    std::vector<std::string> env;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        const char* value = std::getenv(name);
        if (!value)
            continue;
        std::string options = value;
        if (const size_t at = options.find("log_path="); at != std::string::npos) {
            const size_t end = std::min(options.find(':', at), options.size());
            const fs::path path = options.substr(at + 9, end - at - 9);
            reports = path.parent_path().string();
            options.replace(at + 9, end - at - 9, "/mnt/reports/" + path.filename().string());
        }
        if (const size_t at = options.find("suppressions="); at != std::string::npos) {
            const size_t end = std::min(options.find(':', at), options.size());
            options.replace(at + 13, end - at - 13, "/mnt/lsan.supp");
        }
        if (std::string(name) == "ASAN_OPTIONS")
            options += ":fast_unwind_on_malloc=0";
        env.push_back(std::string(name) + "=" + options);
    }
    return env;
}

// A command line that runs command (sh, with argument as $0) in the
// chroot, as a fresh login of the end user would: nothing of the test's environment but the display,
// the user's folder at /mnt/user (read-only if asked); certificates, when
// given, is a folder that stands for the system's trust store
// (/etc/ssl/certs) there.
std::string InChroot(const std::string& root, const std::string& user, const std::string& display, bool readOnly,
                     const std::string& command, const std::string& argument, const std::string& certificates = {})
{
    std::string reports;
    const std::vector<std::string> sanitizers = SanitizerEnvironment(reports);
    const std::string script =
        "R=$1; U=$2; REP=$3; RO=$4; CERTS=$5; shift 5\n"
        "if [ -n \"$CERTS\" ]; then mount --bind \"$CERTS\" \"$R/etc/ssl/certs\"; fi\n"
        "mount -t proc proc \"$R/proc\"\n"
        "mount --rbind /dev \"$R/dev\"\n"
        "mount -t tmpfs tmpfs \"$R/tmp\"\n"
        "mount -t tmpfs tmpfs \"$R/mnt\"\n"
        "mkdir \"$R/mnt/user\" \"$R/mnt/reports\"\n"
        "mount --bind \"$U\" \"$R/mnt/user\"\n"
        "if [ \"$RO\" = 1 ]; then mount -o remount,bind,ro \"$R/mnt/user\"; fi\n"
        "if [ -n \"$REP\" ]; then mount --bind \"$REP\" \"$R/mnt/reports\"; fi\n"
        "cp " + ShellQuote(LSAN_SUPPRESSIONS) + " \"$R/mnt/lsan.supp\"\n"
        "exec chroot \"$R\" env -i \"$@\"\n";
    std::string line = "unshare -m --propagation private sh -ec " + ShellQuote(script) + " sh " + ShellQuote(root) +
                       " " + ShellQuote(user) + " " + ShellQuote(reports) + " " + (readOnly ? "1" : "0") + " " +
                       ShellQuote(certificates);
    for (const std::string& variable :
         std::vector<std::string>{"PATH=/usr/bin:/bin", "HOME=/root", "LANG=C.UTF-8", "DISPLAY=" + display})
        line += " " + ShellQuote(variable);
    for (const std::string& variable : sanitizers)
        line += " " + ShellQuote(variable);
    return line + " sh -c " + ShellQuote(command) + " " + ShellQuote(argument);
}

bool StillRunning(pid_t pid)
{
    return ::waitpid(pid, nullptr, WNOHANG) == 0;
}

// Every test: the chroot (skipped, saying why, where none can be made) and
// the installed program's prefix.
class BareDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!chroot.skip.empty())
            GTEST_SKIP() << "no bare desktop: " << chroot.skip;
        ASSERT_FALSE(chroot.root.empty());
        prefix = Prefix();
        ASSERT_FALSE(prefix.empty());
    }
    const Chroot& chroot = TheChroot();
    std::string prefix;
};

TEST_F(BareDesktop, CopyStartsThroughItsLauncherDownloadsAndExtracts)
{
    // The desktop a copy once failed on: GL without libOpenGL, nor the xcb
    // extension libraries Mesa does not bring.
    for (const char* absent : {"libOpenGL.so.0", "libxcb-shape.so.0", "libxcb-xkb.so.1", "libxkbcommon-x11.so.0"})
        ASSERT_FALSE(Exists(chroot.root + "/usr/lib/x86_64-linux-gnu/" + absent)) << absent;
    ASSERT_TRUE(Exists(chroot.root + "/usr/lib/x86_64-linux-gnu/libGL.so.1"));
    XvfbDisplay display;
    ASSERT_TRUE(display.ok());
    // Over https, with the test's CA as the bare desktop's trust store: the
    // copy's own TLS library and the system's certificates.
    TestCA ca;
    Offer offer;
    ASSERT_NO_FATAL_FAILURE(MakeSecureOffer(offer, ca));
    TempDir certificates;
    ASSERT_EQ(RunShell("cp " + ShellQuote(ca.CertFile()) + " " + ShellQuote(certificates / "fetchlet-test.pem") +
                       " && cd " + ShellQuote(certificates.path()) +
                       " && ln -s fetchlet-test.pem \"$(openssl x509 -hash -noout -in fetchlet-test.pem).0\"")
                  .exitCode,
              0);
    TempDir publisher, release, user;
    const std::string bin = prefix + "/" INSTALL_BINDIR;
    const std::string title = "Fetchlet 素のデスクトップ";
    const std::string folder = publisher / "work";
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(folder, bin, offer, title, false));
    const std::string out = release / "Fetchlet 配布";
    const CommandResult publish =
        RunShell(ShellQuote(bin + "/fetchlet-publish") + " " + ShellQuote(folder) + " " + ShellQuote(out));
    ASSERT_EQ(publish.exitCode, 0) << publish.out << publish.err;

    // Unpacked, then moved and renamed.
    ASSERT_EQ(RunShell("tar -C " + ShellQuote(user.path()) + " -xzf " + ShellQuote(out + ".tar.gz")).exitCode, 0);
    const std::string name = "移動した コピー";
    fs::rename(user / "Fetchlet 配布", user / name);
    const std::string copy = user / name;          // seen from the host
    const std::string inside = "/mnt/user/" + name; // seen from the chroot

    // Every library of every ELF file found on the bare desktop.
    const CommandResult ldd = RunShell(InChroot(
        chroot.root, user.path(), display.name(), false,
        "cd \"$0\" && for f in fetchlet start-fetchlet *.DLL *.dll *.so lib/* plugins/*/*; do echo \"== $f\"; "
        "ldd \"./$f\" || echo \"ldd failed\"; done",
        inside));
    EXPECT_EQ(ldd.exitCode, 0) << ldd.err;
    EXPECT_NE(ldd.out.find("== lib/libQt6Core.so.6"), std::string::npos) << ldd.out;
    EXPECT_EQ(ldd.out.find("not found"), std::string::npos) << ldd.out;
    EXPECT_EQ(ldd.out.find("ldd failed"), std::string::npos) << ldd.out;

    // Started from / as a file manager would, through the launcher.
    const std::string launch = "exec \"$0\"", launcher = inside + "/start-fetchlet";
    const std::string log = release / "run.log";
    const pid_t pid =
        StartShell(InChroot(chroot.root, user.path(), display.name(), false, launch, launcher, certificates.path()), log);
    ASSERT_GT(pid, 0);
    DownloadThroughMainWindow(display, title, copy, offer);
    StopChild(pid, SIGTERM);
    EXPECT_EQ(ReadFile(log).find("start-fetchlet:"), std::string::npos) << ReadFile(log);

    // Read-only: the download fails with the program's message box (a
    // second window of the program) and the program runs on.
    for (const auto& entry : fs::directory_iterator(offer.payload.path()))
        fs::remove_all(copy + "/" + entry.path().filename().string());
    fs::remove(copy + "/sample.zip");
    fs::remove(copy + "/DL.dat"); // the body request's header capture stays, as on Windows
    const std::string roLog = release / "ro.log";
    const pid_t ro =
        StartShell(InChroot(chroot.root, user.path(), display.name(), true, launch, launcher, certificates.path()), roLog);
    ASSERT_GT(ro, 0);
    struct Stop {
        pid_t pid;
        ~Stop() { StopChild(pid, SIGTERM); }
    } stop{ro};
    const std::string window = display.WaitForWindow(title);
    ASSERT_FALSE(window.empty()) << ReadFile(roLog);
    // The program runs as the launcher's child.
    const pid_t program = display.WindowPid(window);
    ASSERT_GT(program, 0);
    ASSERT_TRUE(display.Click(window, 285, 228));
    const bool told = WaitUntil(std::chrono::seconds(60), [&] {
        const CommandResult windows = RunShell(display.Env() + "xdotool search --onlyvisible --pid " +
                                               std::to_string(program) + " 2>/dev/null | wc -l");
        return std::atoi(windows.out.c_str()) >= 2;
    });
    EXPECT_TRUE(told) << "no message for the read-only folder\n" << ReadFile(roLog);
    EXPECT_TRUE(StillRunning(ro) && ::kill(program, 0) == 0) << ReadFile(roLog);
    EXPECT_FALSE(Exists(copy + "/sample.zip"));
    EXPECT_FALSE(Exists(copy + "/DL.dat"));
}

TEST_F(BareDesktop, LauncherNamesALibraryTheSystemLacks)
{
    Offer offer;
    ASSERT_NO_FATAL_FAILURE(MakeOffer(offer));
    TempDir publisher, user;
    const std::string bin = prefix + "/" INSTALL_BINDIR;
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(publisher / "work", bin, offer, "Fetchlet", false));
    const CommandResult publish = RunShell(ShellQuote(bin + "/fetchlet-publish") + " " +
                                           ShellQuote(publisher / "work") + " " + ShellQuote(user / "copy"));
    ASSERT_EQ(publish.exitCode, 0) << publish.out << publish.err;
    // A library neither the copy nor this system has: libOpenGL, taken out
    // of the copy and of its list of parts.
    const std::string copy = user / "copy";
    fs::remove(copy + "/lib/libOpenGL.so.0");
    std::string parts = ReadFile(copy + "/fetchlet.files");
    const size_t line = parts.find("lib/libOpenGL.so.0\n");
    ASSERT_NE(line, std::string::npos) << parts;
    parts.erase(line, std::string("lib/libOpenGL.so.0\n").size());
    WriteFile(copy + "/fetchlet.files", parts);
    // No display: the message goes to standard error.
    const CommandResult run =
        RunShell(InChroot(chroot.root, user.path(), "", false, "\"$0\"; echo \"exit $?\"", "/mnt/user/copy/start-fetchlet"));
    EXPECT_NE(run.out.find("exit 1"), std::string::npos) << run.out << run.err;
    EXPECT_NE(run.err.find("libOpenGL.so.0"), std::string::npos) << run.err;
}

} // namespace

// A screen reader user on the bare desktop: the session's accessibility bus
// runs beside the chroot (its sockets in /dev/shm, which the chroot shares),
// and the copy, started there by its launcher, is driven through that bus
// alone from the press of the download button to Close.
TEST_F(BareDesktop, CopyIsDrivenThroughTheAtspiBus)
{
    XvfbDisplay display;
    ASSERT_TRUE(display.ok());
    AtspiBus bus(display.name(), "/dev/shm");
    ASSERT_TRUE(bus.ok()) << bus.error();
    Offer offer;
    ASSERT_NO_FATAL_FAILURE(MakeOffer(offer));
    TempDir publisher, user;
    const std::string bin = prefix + "/" INSTALL_BINDIR;
    const std::string title = "Fetchlet 読み上げ";
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(publisher / "work", bin, offer, title, false));
    const CommandResult publish = RunShell(ShellQuote(bin + "/fetchlet-publish") + " " +
                                           ShellQuote(publisher / "work") + " " + ShellQuote(user / "copy"));
    ASSERT_EQ(publish.exitCode, 0) << publish.out << publish.err;

    const std::string log = publisher / "run.log";
    const pid_t pid = StartShell(InChroot(chroot.root, user.path(), display.name(), false, bus.Env() + "exec \"$0\"",
                                     "/mnt/user/copy/start-fetchlet"),
                            log);
    ASSERT_GT(pid, 0);
    DownloadThroughAtspi(display, bus, title, user / "copy", offer);
    const bool ended = WaitUntil(std::chrono::seconds(30), [&] { return !StillRunning(pid); });
    if (!ended)
        StopChild(pid, SIGTERM);
    EXPECT_TRUE(ended) << "Close did not end the program\n" << ReadFile(log);
    EXPECT_EQ(ReadFile(log).find("start-fetchlet:"), std::string::npos) << ReadFile(log);
}
