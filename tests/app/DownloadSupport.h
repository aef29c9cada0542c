// Helpers of the download tests: settings lines, CRC texts, a ZIP made by
// the real zip program, and actions run once a condition holds while the
// download pumps the event loop.
#pragma once
#include "Commands.h"
#include "Servers.h"
#include "integrity/CrcListComp.h"

#include <QDir>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace downloadsupport {

inline std::vector<std::string> settings(const std::string& url, const std::string& crc, int sizeKB, bool extract = true,
                                  bool password = false)
{
    return {"なし", "DownLoad", "1722267", "12713468", "Fetchlet", "", url, password ? "true" : "false", "wren",
            extract ? "true" : "false", crc, std::to_string(sizeKB), "16777215", "6462440", "タイプＡ"};
}

inline std::string crcOf(const std::string& path)
{
    TCRCList list(nullptr);
    list.Files.Add(path);
    list.Execute();
    return list.CRCText;
}

// A ZIP made by the real zip program: two files, one in a folder.
inline std::string makeZip(const std::string& folder)
{
    QDir(QString::fromStdString(folder)).mkpath(QStringLiteral("src/docs"));
    testsupport::WriteFile(folder + "/src/readme.txt", "hello\r\n");
    testsupport::WritePatternFile(folder + "/src/docs/data.bin", 300000);
    QProcess zip;
    zip.setWorkingDirectory(QString::fromStdString(folder + "/src"));
    zip.start(QStringLiteral("zip"), {QStringLiteral("-qr"), QStringLiteral("../pack.zip"), QStringLiteral(".")});
    zip.waitForFinished(60000);
    return folder + "/pack.zip";
}

// size bytes of a position-dependent pattern that starts at seed.
inline std::string contentOf(std::size_t size, char seed)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(seed + (i * 7 + i / 251) % 61);
    return s;
}

// A tmpfs mounted on a folder while the object lives (as root);
// error() says why there is none.
class Tmpfs {
public:
    Tmpfs(const std::string& folder, const std::string& options) : folder_(folder)
    {
        const testsupport::CommandResult mounted =
            testsupport::RunShell("mount -t tmpfs -o " + options + " fetchlet-test " + testsupport::ShellQuote(folder));
        if (mounted.exitCode != 0)
            error_ = mounted.err.empty() ? "mount failed" : mounted.err;
    }
    ~Tmpfs()
    {
        if (error_.empty())
            testsupport::RunShell("umount -l " + testsupport::ShellQuote(folder_));
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    const std::string& error() const { return error_; }

private:
    std::string folder_;
    std::string error_;
};

// Calls `action` once `condition` holds, checking whenever the event loop
// runs (the download pumps it while it waits).
inline void when(std::function<bool()> condition, std::function<void()> action)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, condition, action] {
        if (condition()) {
            timer->stop();
            timer->deleteLater();
            action();
        }
    });
    timer->start();
}

} // namespace downloadsupport
