// Running programs from tests (library fetchlet_testsupport_commands).
//
// RunShell     runs a command line with /bin/sh and collects its standard
//              output and standard error apart, and its exit code (-1 when
//              it did not exit normally). Standard input is /dev/null.
// ShellQuote   one argument quoted for /bin/sh.
// XvfbDisplay  a virtual X display of its own (Xvfb picks a free number),
//              stopped with the object and killed with the test process.
//              WaitForWindow waits (bounded) for a visible window whose name
//              matches and gives its id; Click presses the left button at a
//              point of a window (xdotool); WindowPid is the process that
//              owns it; Screenshot writes it to a PNG file (ImageMagick).
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testsupport {

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

CommandResult RunShell(const std::string& command);
std::string ShellQuote(const std::string& text);
// Sends the signal to a child process and reaps it; after 10 s it is
// killed.
void StopChild(pid_t pid, int signal);
// Starts a command line with /bin/sh in the background, its output into
// the file log; stop it with StopChild.
pid_t StartShell(const std::string& command, const std::string& log);
// Waits (checking every 100 ms) until the condition holds; false after
// limit.
bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& condition);
// Starts a program in the background: standard input from /dev/null,
// output and errors to the given descriptors (-1: /dev/null), the extra
// variables set; with a death signal it gets that signal should the test
// process end first. Descriptors without close-on-exec stay open in it.
pid_t StartProgram(const std::vector<std::string>& argv,
                   const std::vector<std::pair<std::string, std::string>>& env, int out, int err, int deathSignal);
// A line a program writes to a pipe once it is ready (without the line
// end; what came when it gave up after 30 s or closed the pipe).
std::string ReadyLine(int fd);

class XvfbDisplay {
public:
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool ok() const { return pid_ > 0 && !name_.empty(); }
    // ":N"
    const std::string& name() const { return name_; }
    // "DISPLAY=:N " to put before a command line.
    std::string Env() const { return "DISPLAY=" + name_ + " "; }

    std::string WaitForWindow(const std::string& name,
                              std::chrono::milliseconds limit = std::chrono::seconds(60)) const;
    bool Click(const std::string& window, int x, int y) const;
    pid_t WindowPid(const std::string& window) const;
    bool Screenshot(const std::string& window, const std::string& png) const;

private:
    std::string name_;
    pid_t pid_ = -1;
};

} // namespace testsupport
