// The end user's copy and assistive technology: the copy carries what Qt's
// accessibility bridge needs (Qt's D-Bus library); its launcher, its
// terminal script and its desktop entry, and the installed desktop entry,
// hand the session's accessibility settings on to the program. (The copy
// driven through the AT-SPI bus: test_baredesktop.cpp.)
#include "Installed.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

using namespace testsupport;
using namespace packaging;
namespace fs = std::filesystem;

namespace {

// A copy published from a prepared folder; "" (and a failure) if it fails.
std::string PublishCopy(const TempDir& publisher, const TempDir& release, const Offer& offer,
                        const std::string& title)
{
    const std::string bin = Prefix() + "/" INSTALL_BINDIR;
    const std::string folder = publisher / "work";
    PrepareFolder(folder, bin, offer, title, false);
    const std::string out = release / "copy";
    const CommandResult publish =
        RunShell(ShellQuote(bin + "/fetchlet-publish") + " " + ShellQuote(folder) + " " + ShellQuote(out));
    EXPECT_EQ(publish.exitCode, 0) << publish.out << publish.err;
    return publish.exitCode == 0 ? out : std::string();
}

// The session's accessibility settings, as a desktop session sets them.
const std::map<std::string, std::string>& SessionSettings()
{
    static const std::map<std::string, std::string> settings = {
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus"},
        {"AT_SPI_BUS_ADDRESS", "unix:path=/run/user/1000/at-spi/bus,guid=0123456789abcdef"},
        {"XDG_RUNTIME_DIR", "/run/user/1000"},
        {"QT_ACCESSIBILITY", "1"},
        {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
    };
    return settings;
}

// Puts the session's settings into this process's environment while it
// lives (desktop entries are started from it).
struct SessionEnvironment {
    std::map<std::string, std::string> before;
    SessionEnvironment()
    {
        for (const auto& [name, value] : SessionSettings()) {
            if (const char* old = std::getenv(name.c_str()))
                before[name] = old;
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    ~SessionEnvironment()
    {
        for (const auto& [name, value] : SessionSettings()) {
            (void)value;
            if (const auto it = before.find(name); it != before.end())
                ::setenv(name.c_str(), it->second.c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
};

// A stand-in for the program that writes the environment it was given.
void WriteEnvironmentDumper(const std::string& path, const std::string& out)
{
    WriteFile(path, "#!/bin/sh\nenv > " + ShellQuote(out + ".part") + " && mv " + ShellQuote(out + ".part") + " " +
                        ShellQuote(out) + "\n");
    fs::permissions(path, fs::perms(0755));
}

// The session's settings that did not reach the program (which wrote its
// environment to file), "" when all did.
std::string MissingSettings(const std::string& file)
{
    const std::string seen = "\n" + ReadFile(file);
    std::string missing;
    for (const auto& [name, value] : SessionSettings())
        if (seen.find("\n" + name + "=" + value + "\n") == std::string::npos)
            missing += name + " ";
    return missing;
}

TEST(CopyAccessibility, LaunchersHandTheSessionsAccessibilitySettingsOn)
{
    ASSERT_FALSE(Prefix().empty());
    XvfbDisplay display;
    ASSERT_TRUE(display.ok());
    Offer offer;
    ASSERT_NO_FATAL_FAILURE(MakeOffer(offer));
    TempDir publisher, release, fake;
    const std::string copy = PublishCopy(publisher, release, offer, "Fetchlet");
    ASSERT_FALSE(copy.empty());
    // Qt's D-Bus library, which the bridge speaks through, travels with it
    // (the bare-desktop tests drive the copy through the bus).
    EXPECT_TRUE(Exists(copy + "/lib/libQt6DBus.so.6"));
    EXPECT_NE(ReadFile(copy + "/fetchlet.files").find("lib/libQt6DBus.so.6\n"), std::string::npos);
    // The program stands in for itself by writing what it was given.
    const std::string seen = release / "seen.env";
    WriteEnvironmentDumper(copy + "/fetchlet", seen);
    std::string settings;
    for (const auto& [name, value] : SessionSettings())
        settings += name + "=" + ShellQuote(value) + " ";

    // The launcher and the script for a terminal.
    for (const char* entry : {"start-fetchlet", "run-fetchlet"}) {
        fs::remove(seen);
        const CommandResult run = RunShell(display.Env() + settings + ShellQuote(copy + "/" + entry));
        EXPECT_EQ(run.exitCode, 0) << entry << run.out << run.err;
        EXPECT_EQ(MissingSettings(seen), "") << entry << ": " << ReadFile(seen);
    }

    // The copy's desktop entry and the installed one, started as a file
    // manager starts them.
    WriteEnvironmentDumper(fake / "fetchlet", seen);
    const std::vector<std::pair<std::string, std::string>> entries = {
        {copy + "/Fetchlet.desktop", "/usr/bin:/bin"},
        {Prefix() + "/" INSTALL_DATADIR "/applications/com.example.Fetchlet.desktop", fake.path() + ":/usr/bin:/bin"}};
    for (const auto& [entry, path] : entries) {
        fs::remove(seen);
        std::string message;
        {
            SessionEnvironment session;
            ASSERT_TRUE(LaunchDesktopEntry(entry, "/", display.name(), path, message)) << entry << ": " << message;
        }
        EXPECT_TRUE(WaitUntil(std::chrono::seconds(30), [&] { return !ReadFile(seen).empty(); })) << entry;
        EXPECT_EQ(MissingSettings(seen), "") << entry << ": " << ReadFile(seen);
    }
}

} // namespace
