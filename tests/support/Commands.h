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
// AtspiBus     the accessibility bus of a desktop session, private to a
//              test: a D-Bus session bus of its own with at-spi2-core's bus
//              launcher on it (which starts the accessibility bus and its
//              registry), for a display, with assistive technology switched
//              on (org.a11y.Status IsEnabled, as a screen reader sets it).
//              Env() gives what a program needs to find it; everything lies
//              in Folder() (the session's XDG_RUNTIME_DIR), made below base
//              ($TMPDIR or /tmp when empty; a chroot that has the host's
//              /dev sees /dev/shm, and so the sockets made there). Stopped
//              with the object: the launcher (which ends its bus), then the
//              session bus (which ends the registry).
// DriveThroughAtspi  a download driven through such a bus alone, as a
//              screen reader user drives it (support/atspi_drive.py with
//              Debian's python3-pyatspi): the program's frame found by its
//              title, its download button pressed by name through the Press
//              action, the gauge read as it moves, the status line read
//              until it says the finished status, the buttons showing then,
//              Close pressed. AtspiFindings holds what it found.
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
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
bool WaitUntil(std::chrono::seconds limit, const std::function<bool()>& condition);

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

class AtspiBus {
public:
    explicit AtspiBus(const std::string& display, const std::string& base = {});
    ~AtspiBus();
    AtspiBus(const AtspiBus&) = delete;
    AtspiBus& operator=(const AtspiBus&) = delete;

    bool ok() const { return error_.empty(); }
    // Why it could not be set up.
    const std::string& error() const { return error_; }
    const std::string& Folder() const { return folder_; }
    const std::string& SessionAddress() const { return session_; }
    // The accessibility bus's own address (AT_SPI_BUS_ADDRESS).
    const std::string& Address() const { return address_; }
    // "DBUS_SESSION_BUS_ADDRESS=... XDG_RUNTIME_DIR=... GSETTINGS_BACKEND=memory "
    std::string Env() const;

private:
    std::string error_;
    std::string folder_;
    std::string session_;
    std::string address_;
    pid_t bus_ = -1;
    pid_t launcher_ = -1;
};

struct AtspiFindings {
    struct Event {
        double at; // seconds after the press
        std::string type, role, name;
    };
    int exitCode = -1;
    std::string output, errors;
    std::string frame, pressed, status, error;
    std::vector<double> values;        // the gauge's values as read, in order
    std::vector<std::string> showing;  // push buttons showing at the end
    std::vector<Event> events;
    bool closed = false;
    // The names the status line was heard with ("showing" notices of the
    // notification), in order.
    std::vector<std::string> Heard() const;
    // Events while the body came in: from the first progress told (gauge
    // value, progress text) to the finished status.
    struct Rate {
        size_t count = 0;
        double seconds = 0;
        size_t mostInASecond = 0;
        size_t beforeProgress = 0; // from the press to the first progress
    };
    Rate WhileReceiving(const std::string& finished) const;
};

AtspiFindings DriveThroughAtspi(const XvfbDisplay& display, const AtspiBus& bus, const std::string& title,
                                const std::string& button, const std::string& finished, int seconds = 120);

} // namespace testsupport
