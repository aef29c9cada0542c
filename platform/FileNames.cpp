#include "platform/FileNames.h"

#include "platform/Library.h"

#include <QDir>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

std::string withSlash(const std::string& dir)
{
    if (dir.empty() || dir.back() == '/')
        return dir;
    return dir + "/";
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 || ::lstat(path.c_str(), &st) == 0;
}

} // namespace

std::string ResolveName(const std::string& dir, const std::string& name)
{
    const std::string d = withSlash(dir);
    const std::string exact = d + name;
    if (name.empty() || exists(exact))
        return exact;
    QDir folder(QString::fromStdString(d.empty() ? std::string(".") : d));
    const QString wanted = QString::fromStdString(name);
    const QStringList entries = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                                 QDir::Name);
    for (const QString& entry : entries)
        if (entry.compare(wanted, Qt::CaseInsensitive) == 0)
            return d + entry.toStdString();
    return exact;
}

std::string ResolvePath(const std::string& dir, const std::string& relative)
{
    std::string current = dir;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t slash = relative.find('/', start);
        std::string part = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (slash == std::string::npos) {
            return ResolveName(current, part);
        }
        current = ResolveName(current, part) + "/";
        start = slash + 1;
    }
    return current;
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::int64_t FileSizeOf(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::string GetCurrentDir()
{
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

bool SetCurrentDir(const std::string& path)
{
    return ::chdir(path.c_str()) == 0;
}

unsigned long SearchPathA(const char* path, const char* fileName, const char* extension, unsigned long bufferLength,
                          char* buffer, char** filePart)
{
    if (!fileName || !*fileName)
        return 0;
    std::string name = fileName;
    if (extension && name.find('.') == std::string::npos)
        name += extension;
    std::vector<std::string> folders;
    auto addList = [&folders](const std::string& dirs) {
        for (size_t start = 0; start <= dirs.size();) {
            size_t sep = dirs.find(':', start);
            if (sep == std::string::npos)
                sep = dirs.size();
            folders.push_back(dirs.substr(start, sep - start));
            start = sep + 1;
        }
    };
    if (path) {
        addList(path);
    } else {
        folders.push_back(PrivateFolder());
        folders.push_back(GetCurrentDir());
        if (const char* env = std::getenv("PATH"))
            addList(env);
    }
    std::string found;
    for (size_t i = 0; i < folders.size() && found.empty(); ++i) {
        std::string dir = folders[i];
        if (dir.empty())
            continue;
        if (dir.back() != '/')
            dir += '/';
        std::string candidate = name.find('/') != std::string::npos && name[0] == '/' ? name : dir + name;
        if (FileExists(candidate))
            found = candidate;
        else if (!path && i < 2 && FileExists(ResolveName(dir, name)))
            found = ResolveName(dir, name);
    }
    if (found.empty())
        return 0;
    if (!buffer || bufferLength <= found.size())
        return static_cast<unsigned long>(found.size() + 1);
    std::memcpy(buffer, found.c_str(), found.size() + 1);
    if (filePart)
        *filePart = buffer + (found.rfind('/') + 1);
    return static_cast<unsigned long>(found.size());
}

std::FILE* OpenForWriting(const std::string& path, bool append)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC), 0666);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, append ? "ab" : "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

bool ReplaceFileWith(const std::string& path, std::string_view bytes, unsigned mode)
{
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str()); // a leftover, or a link planted there
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return false;
    int error = 0;
    for (std::size_t done = 0; done < bytes.size() && !error;) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && std::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (!error)
        return true;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
}
