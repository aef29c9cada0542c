#include "Atspi.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sstream>
#include <unistd.h>

namespace testsupport {

AtspiBus::AtspiBus(const std::string& display, const std::string& base)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        (base.empty() ? std::string(tmp && *tmp ? tmp : "/tmp") : base) + "/fetchlet-atspi-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error_ = "cannot make a folder for the session";
        return;
    }
    folder_ = pattern;
    const char* launcher = "/usr/libexec/at-spi-bus-launcher";
    if (::access(launcher, X_OK) != 0) {
        error_ = std::string(launcher) + " is missing (at-spi2-core; scripts/setup installs it)";
        return;
    }
    // The session bus, its address read from the pipe once it listens.
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        error_ = "no pipe";
        return;
    }
    bus_ = StartProgram({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + folder_ + "/bus",
                  "--print-address=1"},
                 {}, ready[1], -1, SIGTERM);
    ::close(ready[1]);
    session_ = ReadyLine(ready[0]);
    ::close(ready[0]);
    if (session_.empty()) {
        error_ = "dbus-daemon did not start (dbus-daemon; scripts/setup installs it)";
        return;
    }
    launcher_ = StartProgram({launcher, "--launch-immediately"},
                      {{"DBUS_SESSION_BUS_ADDRESS", session_}, {"DISPLAY", display}, {"XDG_RUNTIME_DIR", folder_},
                       {"GSETTINGS_BACKEND", "memory"}},
                      -1, -1, SIGTERM);
    // Asked only once the launcher holds its name: a call before would
    // start another launcher through D-Bus activation.
    const std::string owned = Env() + "dbus-send --session --print-reply --dest=org.freedesktop.DBus "
                                      "/org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus";
    const std::string send = Env() + "dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus ";
    CommandResult reply;
    if (!WaitUntil(std::chrono::seconds(30),
                   [&] { return RunShell(owned).out.find("boolean true") != std::string::npos; }) ||
        !WaitUntil(std::chrono::seconds(30), [&] {
            reply = RunShell(send + "org.a11y.Bus.GetAddress");
            return reply.exitCode == 0;
        })) {
        error_ = "at-spi-bus-launcher did not come up: " + reply.err;
        return;
    }
    const size_t open = reply.out.find("string \"");
    if (open != std::string::npos)
        address_ = reply.out.substr(open + 8, reply.out.find('"', open + 8) - open - 8);
    const CommandResult on = RunShell(send + "org.freedesktop.DBus.Properties.Set string:org.a11y.Status "
                                             "string:IsEnabled variant:boolean:true");
    if (on.exitCode != 0 || address_.empty())
        error_ = "assistive technology could not be switched on: " + on.err;
}

AtspiBus::~AtspiBus()
{
    if (launcher_ > 0)
        StopChild(launcher_, SIGTERM);
    if (bus_ > 0)
        StopChild(bus_, SIGTERM);
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

std::string AtspiBus::Env() const
{
    return "DBUS_SESSION_BUS_ADDRESS=" + ShellQuote(session_) + " XDG_RUNTIME_DIR=" + ShellQuote(folder_) +
           " GSETTINGS_BACKEND=memory ";
}

std::vector<std::string> AtspiFindings::Heard() const
{
    std::vector<std::string> heard;
    for (const Event& e : events)
        if (e.type == "object:state-changed:showing" && e.role == "notification")
            heard.push_back(e.name);
    return heard;
}

AtspiFindings::Rate AtspiFindings::WhileReceiving(const std::string& finished) const
{
    Rate rate;
    double from = -1, to = -1;
    for (const Event& e : events) {
        const bool progress = (e.role == "progress-bar" && e.type == "object:property-change:accessible-value") ||
                              (e.role == "label" && e.type == "object:property-change:accessible-name");
        if (progress && from < 0 && e.at >= 0)
            from = e.at;
        if (e.role == "notification" && e.name == finished && to < 0)
            to = e.at;
    }
    if (from < 0 || to <= from)
        return rate;
    rate.seconds = to - from;
    std::vector<double> during;
    for (const Event& e : events) {
        if (e.at >= from && e.at < to)
            during.push_back(e.at);
        else if (e.at >= 0 && e.at < from)
            ++rate.beforeProgress;
    }
    rate.count = during.size();
    for (size_t i = 0; i < during.size(); ++i) {
        size_t n = 0;
        while (i + n < during.size() && during[i + n] < during[i] + 1.0)
            ++n;
        rate.mostInASecond = std::max(rate.mostInASecond, n);
    }
    return rate;
}

AtspiFindings DriveThroughAtspi(const XvfbDisplay& display, const AtspiBus& bus, const std::string& title,
                                const std::string& button, const std::string& finished, int seconds)
{
    AtspiFindings found;
    const CommandResult run = RunShell(display.Env() + bus.Env() + "/usr/bin/python3 " + ShellQuote(ATSPI_DRIVE_SCRIPT) +
                                       " " + ShellQuote(title) + " " + ShellQuote(button) + " " +
                                       ShellQuote(finished) + " " + std::to_string(seconds));
    found.exitCode = run.exitCode;
    found.output = run.out;
    found.errors = run.err;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        std::istringstream fields(rest);
        if (word == "frame")
            found.frame = rest;
        else if (word == "pressed")
            found.pressed = rest;
        else if (word == "status")
            found.status = rest;
        else if (word == "showing")
            found.showing.push_back(rest);
        else if (word == "closed")
            found.closed = true;
        else if (word == "error")
            found.error = rest;
        else if (word == "value") {
            double at = 0, value = 0;
            fields >> at >> value;
            found.values.push_back(value);
        } else if (word == "event") {
            AtspiFindings::Event e;
            fields >> e.at >> e.type >> e.role;
            std::getline(fields >> std::ws, e.name);
            found.events.push_back(e);
        }
    }
    return found;
}

} // namespace testsupport
