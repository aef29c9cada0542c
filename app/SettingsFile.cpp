#include "app/SettingsFile.h"

#include "platform/Cp932.h"
#include "runtime/Exceptions.h"
#include "runtime/SysUtils.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string ScrambleBytes(std::string_view bytes)
{
    std::string out(bytes);
    for (char& c : out)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ SettingsKey);
    return out;
}

void SaveSettingsFile(const std::string& path, std::string_view stored)
{
    std::string temporary = ExtractFilePath(path) + ".DL.ini.XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        throw EFCreateError::CannotCreate(path);
    bool ok = true;
    size_t done = 0;
    while (ok && done < stored.size()) {
        const ssize_t n = ::write(fd, stored.data() + done, stored.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        throw EFCreateError::CannotCreate(path);
    }
    // The rename itself is made durable with the folder.
    const std::string folder = ExtractFilePath(path).empty() ? std::string(".") : ExtractFilePath(path);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

TStringList DecodeSettings(std::string_view stored)
{
    TStringList raw;
    raw.SetText(ScrambleBytes(stored));
    TStringList lines;
    for (const auto& line : raw)
        lines.Add(Cp932ToUtf8(line));
    return lines;
}

std::string EncodeSettings(const TStringList& lines)
{
    TStringList raw;
    for (const auto& line : lines)
        raw.Add(Utf8ToCp932Lossy(line));
    return ScrambleBytes(raw.Text());
}
