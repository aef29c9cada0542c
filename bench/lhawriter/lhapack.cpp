// lhapack: writes an LHA archive of files and folders through LhaWriter,
// as "jlha a ARCHIVE PATH..." does, for the side-by-side benchmark.
//
//   lhapack [-0] ARCHIVE PATH...     (-0: store every member)
//
// Folders are walked in name order; names are taken as given (relative).
#include "core/LhaWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int failures = 0;

void Add(arc::LhaWriter& writer, const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
        ++failures;
        return;
    }
    arc::Member m;
    m.name = path;
    m.mtime = st.st_mtime;
    m.mode = st.st_mode & 07777;
    std::string why;
    if (S_ISDIR(st.st_mode)) {
        m.type = arc::Member::Folder;
        if (!writer.Begin(m, why) || !writer.End()) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), why.empty() ? writer.Error().c_str() : why.c_str());
            ++failures;
        }
        std::vector<std::string> names;
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    names.emplace_back(e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        for (const auto& n : names)
            Add(writer, path + "/" + n);
        return;
    }
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        ssize_t n = readlink(path.c_str(), target, sizeof target);
        m.type = arc::Member::Symlink;
        m.link.assign(target, n > 0 ? static_cast<size_t>(n) : 0);
        if (!writer.Begin(m, why) || !writer.End()) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), why.empty() ? writer.Error().c_str() : why.c_str());
            ++failures;
        }
        return;
    }
    if (!S_ISREG(st.st_mode))
        return;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
        ++failures;
        return;
    }
    m.size = static_cast<uint64_t>(st.st_size);
    if (!writer.Begin(m, why)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
        ++failures;
        close(fd);
        return;
    }
    static std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        ssize_t r = read(fd, buffer.data(), buffer.size());
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            ok = r == 0;
            break;
        }
        if (!writer.Write(buffer.data(), static_cast<size_t>(r))) {
            ok = false;
            break;
        }
    }
    close(fd);
    if (!writer.End() || !ok) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), writer.Error().c_str());
        ++failures;
    }
}

} // namespace

int main(int argc, char** argv)
{
    int arg = 1;
    auto method = arc::LhaWriter::Method::Lh5;
    if (arg < argc && std::strcmp(argv[arg], "-0") == 0) {
        method = arc::LhaWriter::Method::Lh0;
        ++arg;
    }
    if (argc - arg < 2) {
        std::fprintf(stderr, "usage: lhapack [-0] ARCHIVE PATH...\n");
        return 2;
    }
    int fd = open(argv[arg], O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "%s: %s\n", argv[arg], std::strerror(errno));
        return 1;
    }
    {
        arc::LhaWriter writer(fd, method);
        for (int i = arg + 1; i < argc; ++i)
            Add(writer, argv[i]);
        if (!writer.Finish()) {
            std::fprintf(stderr, "%s: %s\n", argv[arg], writer.Error().c_str());
            ++failures;
        }
    }
    close(fd);
    return failures ? 1 : 0;
}
