#include "runtime/ToolCli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef FETCHLET_VERSION
#error "FETCHLET_VERSION is set by the build"
#endif

const char* FetchletVersion()
{
    return FETCHLET_VERSION;
}

ToolCli::ToolCli(std::string name, std::string usage, std::string description)
    : name_(std::move(name)), usage_(std::move(usage)), description_(std::move(description))
{
}

std::string ToolCli::synopsis() const
{
    // "Usage: " before the first line; the others line up under it.
    std::string out;
    size_t begin = 0;
    while (begin <= usage_.size()) {
        size_t end = usage_.find('\n', begin);
        if (end == std::string::npos)
            end = usage_.size();
        out += (begin == 0 ? "Usage: " : "       ") + usage_.substr(begin, end - begin) + "\n";
        begin = end + 1;
    }
    return out;
}

std::string ToolCli::HelpText() const
{
    std::string out = synopsis();
    if (!description_.empty())
        out += "\n" + description_;
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    out += "\n  --help     show this help and exit\n  --version  show the version and exit\n";
    return out;
}

std::string ToolCli::VersionText() const
{
    return name_ + " (Fetchlet) " + FetchletVersion() + "\n";
}

std::optional<int> ToolCli::StandardOptions(int argc, char** argv) const
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            break;
        const bool help = std::strcmp(arg, "--help") == 0;
        if (help || std::strcmp(arg, "--version") == 0) {
            const std::string text = help ? HelpText() : VersionText();
            const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
            return written && std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return std::nullopt;
}

int ToolCli::Usage(const std::string& why) const
{
    std::string out;
    if (!why.empty())
        out = name_ + ": " + why + "\n";
    out += synopsis();
    out += "Try '" + name_ + " --help' for more information.\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    return 2;
}

namespace {

// 0 when the file or folder can be read, else the errno value; folder tells
// whether it is one.
int readError(const std::string& path, bool& folder)
{
    folder = false;
    // O_NONBLOCK: opening a pipe does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat info {};
    int error = ::fstat(fd, &info) == 0 ? 0 : errno;
    if (error == 0 && S_ISDIR(info.st_mode)) {
        folder = true;
        if (DIR* dir = ::fdopendir(fd)) {
            errno = 0;
            if (!::readdir(dir) && errno != 0)
                error = errno;
            ::closedir(dir); // closes fd
            return error;
        }
        error = errno;
    }
    ::close(fd);
    return error;
}

} // namespace

bool ToolCli::Readable(const std::string& path, Input kind) const
{
    bool folder = false;
    int error = readError(path, folder);
    if (error == 0 && kind == Input::File && folder)
        error = EISDIR;
    else if (error == 0 && kind == Input::Folder && !folder)
        error = ENOTDIR;
    if (error == 0)
        return true;
    std::fprintf(stderr, "%s: cannot read %s: %s\n", name_.c_str(), path.c_str(), std::strerror(error));
    return false;
}
