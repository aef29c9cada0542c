#include "Commands.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

std::string ShellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

namespace {

// Starts a program in the background: standard input from /dev/null,
// output and errors to the given descriptors (-1: /dev/null), the extra
// variables set; with a death signal it gets that signal should the test
// process end first. Descriptors without close-on-exec stay open in it.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env,
            int out, int err, int deathSignal)
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (deathSignal != 0) {
            ::prctl(PR_SET_PDEATHSIG, deathSignal);
            if (::getppid() != parent)
                ::_exit(127);
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(out >= 0 ? out : null, 1);
        ::dup2(err >= 0 ? err : null, 2);
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// A line a program writes to a pipe once it is ready (without the line
// end; what came when it gave up after 30 s or closed the pipe).
std::string ReadyLine(int fd)
{
    std::string line;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 30000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

} // namespace

CommandResult RunShell(const std::string& command)
{
    CommandResult result;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return result;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

XvfbDisplay::XvfbDisplay()
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return;
    ::fcntl(ready[1], F_SETFD, 0); // for Xvfb to write to
    const pid_t pid = Spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"},
                            {}, -1, -1, SIGKILL);
    ::close(ready[1]);
    // Xvfb writes its display number once it accepts clients.
    const std::string number = pid > 0 ? ReadyLine(ready[0]) : std::string();
    ::close(ready[0]);
    if (number.empty()) {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        return;
    }
    pid_ = pid;
    name_ = ":" + number;
}

XvfbDisplay::~XvfbDisplay()
{
    if (pid_ <= 0)
        return;
    StopChild(pid_, SIGTERM);
}

void StopChild(pid_t pid, int signal)
{
    ::kill(pid, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

pid_t StartShell(const std::string& command, const std::string& log)
{
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = Spawn({"/bin/sh", "-c", command}, {}, fd, fd, 0);
    if (fd >= 0)
        ::close(fd);
    return pid;
}

bool WaitUntil(std::chrono::seconds limit, const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

std::string XvfbDisplay::WaitForWindow(const std::string& name, std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        const CommandResult r =
            RunShell(Env() + "xdotool search --onlyvisible --name " + ShellQuote(name) + " 2>/dev/null");
        const std::string id = r.out.substr(0, r.out.find('\n'));
        if (!id.empty())
            return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

bool XvfbDisplay::Click(const std::string& window, int x, int y) const
{
    return RunShell(Env() + "xdotool mousemove --window " + ShellQuote(window) + " " + std::to_string(x) + " " +
                    std::to_string(y) + " click 1")
               .exitCode == 0;
}

pid_t XvfbDisplay::WindowPid(const std::string& window) const
{
    const CommandResult r = RunShell(Env() + "xdotool getwindowpid " + ShellQuote(window));
    return r.exitCode == 0 ? static_cast<pid_t>(std::atoi(r.out.c_str())) : -1;
}

bool XvfbDisplay::Screenshot(const std::string& window, const std::string& png) const
{
    return RunShell(Env() + "import -window " + ShellQuote(window) + " " + ShellQuote(png)).exitCode == 0;
}

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
    bus_ = Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + folder_ + "/bus",
                  "--print-address=1"},
                 {}, ready[1], -1, SIGTERM);
    ::close(ready[1]);
    session_ = ReadyLine(ready[0]);
    ::close(ready[0]);
    if (session_.empty()) {
        error_ = "dbus-daemon did not start (dbus-daemon; scripts/setup installs it)";
        return;
    }
    launcher_ = Spawn({launcher, "--launch-immediately"},
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
