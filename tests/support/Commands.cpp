#include "Commands.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
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

pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env,
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

std::string ReadyLine(int fd)
{
    std::string line;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 30000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

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
    // -noreset: a server resets when its last client leaves, and a client
    // that connects meanwhile is refused (the next program of a test).
    const pid_t pid = StartProgram({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp", "-noreset"},
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
    const pid_t pid = StartProgram({"/bin/sh", "-c", command}, {}, fd, fd, 0);
    if (fd >= 0)
        ::close(fd);
    return pid;
}

bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& condition)
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
    std::string id;
    WaitUntil(limit, [&] {
        const CommandResult r =
            RunShell(Env() + "xdotool search --onlyvisible --name " + ShellQuote(name) + " 2>/dev/null");
        id = r.out.substr(0, r.out.find('\n'));
        return !id.empty();
    });
    return id;
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

} // namespace testsupport
