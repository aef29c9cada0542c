// Shared by the packaging tests: one `cmake --install` of this build into a
// temporary prefix per process, a folder prepared as a publisher prepares
// it, and a download driven through the main window on a virtual display.
#pragma once
#include "Atspi.h"
#include "Commands.h"
#include "Servers.h"
#include "TlsPeers.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace packaging {

using testsupport::CommandResult;

// The last line of a program's output.
std::string LastLine(std::string text);

// The programs installed in bin/ and the files of the private folder.
const std::vector<std::string>& InstalledPrograms();
const std::vector<std::string>& PrivateFiles();

// The prefix of this process's install (made on first use), or "" when the
// install failed. The prefix may be moved: Move() renames it and returns the
// new prefix.
const std::string& Prefix();
std::string MovePrefix();

// A file offered for download: a ZIP archive of a few files, served by nginx.
struct Offer {
    testsupport::NginxServer server;
    testsupport::TempDir payload; // what the archive holds
    std::string url;
    std::string zip; // its path on the server's side
    std::unique_ptr<testsupport::TlsNginx> secure; // the same archive over https
};
void MakeOffer(Offer& offer);
// The offer over https from 127.0.0.1, with a certificate of ca.
void MakeSecureOffer(Offer& offer, testsupport::TestCA& ca);

// Writes DL.ini (title, address, extraction on, the archive's size and CRC)
// and DSkin/skin.jpg into folder, with the given tool folder's dlini and
// crclist; publisherLayout adds "マニュアル.html" and "Data".
void PrepareFolder(const std::string& folder, const std::string& toolFolder, const Offer& offer,
                   const std::string& title, bool publisherLayout);

// Starts a desktop entry as a file manager does (GLib), from startFolder,
// with the display and PATH given; Qt's offscreen settings of the tests are
// not passed on. Returns false with a message when it could not launch.
bool LaunchDesktopEntry(const std::string& entry, const std::string& startFolder, const std::string& display,
                        const std::string& path, std::string& message);

// Starts a desktop entry with `gio launch`, from startFolder, with the
// display and PATH given: GLib reads the entry as bare text, so the entry
// learns nothing of its own place (%k is empty). Qt's offscreen settings of
// the tests are not passed on; what the started program prints goes to log.
// The result of gio itself.
CommandResult GioLaunch(const std::string& entry, const std::string& startFolder, const std::string& display,
                        const std::string& path, const std::string& log);

// On the display: waits for the main window titled title, checks that its
// process works in workFolder and ends it. Adds failures to the running
// test.
void StartedIn(const testsupport::XvfbDisplay& display, const std::string& title, const std::string& workFolder);

// On the display: waits for the main window titled title, checks that its
// process works in workFolder, presses the download button, waits until
// every payload file lies extracted in workFolder, and closes the program
// with its Close button. Adds failures to the running test.
void DownloadThroughMainWindow(const testsupport::XvfbDisplay& display, const std::string& title,
                               const std::string& workFolder, const Offer& offer);

// The same through the accessibility bus alone, as a screen reader user
// does it (AT-SPI): the main window found by its title, the download button
// pressed by its name, "終了" read from the status line, every payload file
// extracted in workFolder, Close pressed. Adds failures to the running test.
void DownloadThroughAtspi(const testsupport::XvfbDisplay& display, const testsupport::AtspiBus& bus,
                          const std::string& title, const std::string& workFolder, const Offer& offer);

} // namespace packaging
