// Assistive technology's side of a desktop, for tests (library
// fetchlet_testsupport_commands).
//
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
#include "Commands.h"

#include <string>
#include <vector>

namespace testsupport {

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
