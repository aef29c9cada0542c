#include "core/Sources.h"

#include "core/CommandLine.h"
#include "core/Extraction.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace arc {
namespace {

std::vector<std::string> Split(const std::string& path)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '/') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

std::string Join(const std::string& folder, const std::string& name) { return folder.empty() ? name : folder + "/" + name; }

bool HasWildcard(const std::string& part) { return part.find_first_of("*?[") != std::string::npos; }

// Opens the folder at rel below base without following links.
int OpenFolder(int baseFd, const std::string& rel)
{
    int fd = dup(baseFd);
    for (const auto& part : Split(rel)) {
        if (fd < 0)
            return -1;
        int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    return fd;
}

// The entries of a folder, sorted, without "." and "..".
std::vector<std::string> List(int baseFd, const std::string& rel)
{
    std::vector<std::string> names;
    int fd = OpenFolder(baseFd, rel);
    if (fd < 0)
        return names;
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return names;
    }
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

class Collector {
public:
    Collector(const std::string& base, const SourceRules& rules) : rules_(rules)
    {
        baseFd_ = open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~Collector()
    {
        if (baseFd_ >= 0)
            close(baseFd_);
    }
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    bool Ok() const { return baseFd_ >= 0; }

    // Everything a name (with wildcards) finds; false when nothing.
    bool AddName(const std::string& name)
    {
        std::vector<std::string> parts = Split(name);
        size_t before = list_.sources.size() + list_.refused.size();
        Expand("", parts, 0);
        return list_.sources.size() + list_.refused.size() > before;
    }
    SourceList Take() { return std::move(list_); }

private:
    void Expand(const std::string& folder, const std::vector<std::string>& parts, size_t k)
    {
        if (k == parts.size()) {
            if (!folder.empty())
                Add(folder, true);
            return;
        }
        if (!HasWildcard(parts[k])) {
            std::string rel = Join(folder, parts[k]);
            struct stat st {};
            int fd = OpenFolder(baseFd_, folder);
            bool exists = fd >= 0 && fstatat(fd, parts[k].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (fd >= 0)
                close(fd);
            if (!exists)
                return;
            if (k + 1 == parts.size())
                Add(rel, true);
            else if (S_ISDIR(st.st_mode))
                Expand(rel, parts, k + 1);
            return;
        }
        for (const auto& entry : List(baseFd_, folder)) {
            if (fnmatch(parts[k].c_str(), entry.c_str(), FNM_CASEFOLD | FNM_PERIOD) != 0)
                continue;
            std::string rel = Join(folder, entry);
            if (k + 1 == parts.size()) {
                Add(rel, true);
            } else {
                struct stat st {};
                int fd = OpenFolder(baseFd_, folder);
                bool dir = fd >= 0 && fstatat(fd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
                if (fd >= 0)
                    close(fd);
                if (dir)
                    Expand(rel, parts, k + 1);
            }
        }
    }

    bool Excluded(const std::string& rel) const
    {
        for (const auto& pattern : rules_.excludes)
            if (NameMatches(pattern, rel, true))
                return true;
        return false;
    }

    void Add(const std::string& rel, bool named)
    {
        if (!seen_.insert(rel).second || Excluded(rel))
            return;
        std::string folder = rel.rfind('/') == std::string::npos ? std::string() : rel.substr(0, rel.rfind('/'));
        std::string leaf = rel.substr(folder.empty() ? 0 : folder.size() + 1);
        int fd = OpenFolder(baseFd_, folder);
        struct stat st {};
        if (fd < 0 || fstatat(fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (fd >= 0)
                close(fd);
            list_.refused.push_back(rel + ": cannot be read");
            return;
        }
        Source s;
        s.member.name = rel;
        s.path = rel;
        s.member.mtime = st.st_mtime;
        s.member.mode = st.st_mode & 07777;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlinkat(fd, leaf.c_str(), target, sizeof target - 1);
            close(fd);
            if (n < 0) {
                list_.refused.push_back(rel + ": cannot be read");
                return;
            }
            std::string link(target, static_cast<size_t>(n));
            if (rules_.links) {
                s.member.type = Member::Symlink;
                s.member.link = link;
                list_.sources.push_back(s);
                return;
            }
            // The link stands for its target when that lies inside.
            std::string resolved;
            if (!SafeLinkTarget(rel, link) || !SafeRelativePath(Join(folder, link), resolved)) {
                list_.refused.push_back(rel + ": a link to " + link + ", outside the folder");
                return;
            }
            int tfd = OpenFolder(baseFd_, resolved.rfind('/') == std::string::npos
                                              ? std::string()
                                              : resolved.substr(0, resolved.rfind('/')));
            std::string tleaf = resolved.substr(resolved.rfind('/') == std::string::npos ? 0 : resolved.rfind('/') + 1);
            struct stat tst {};
            bool file = tfd >= 0 && fstatat(tfd, tleaf.c_str(), &tst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(tst.st_mode);
            if (tfd >= 0)
                close(tfd);
            if (!file) {
                list_.refused.push_back(rel + ": a link to " + link + ", not to a file inside the folder");
                return;
            }
            s.path = resolved;
            s.member.size = static_cast<uint64_t>(tst.st_size);
            s.member.mtime = tst.st_mtime;
            s.member.mode = tst.st_mode & 07777;
            list_.sources.push_back(s);
            return;
        }
        close(fd);
        if (S_ISDIR(st.st_mode)) {
            s.member.type = Member::Folder;
            s.member.attributes = 0x10;
            if (rules_.folders)
                list_.sources.push_back(s);
            if (rules_.recurse || !named)
                for (const auto& entry : List(baseFd_, rel))
                    Add(Join(rel, entry), false);
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            list_.refused.push_back(rel + ": not a file, folder or link");
            return;
        }
        s.member.size = static_cast<uint64_t>(st.st_size);
        if (!(st.st_mode & 0222))
            s.member.attributes |= 0x01;
        list_.sources.push_back(s);
    }

    int baseFd_ = -1;
    SourceRules rules_;
    SourceList list_;
    std::set<std::string> seen_;
};

} // namespace

SourceList CollectSources(const std::string& base, const std::vector<std::string>& names, const SourceRules& rules)
{
    Collector c(base, rules);
    SourceList none;
    if (!c.Ok()) {
        none.refused.push_back(base + ": the folder cannot be opened");
        none.matchedAll = false;
        return none;
    }
    bool all = true;
    std::vector<std::string> refused;
    if (names.empty()) {
        c.AddName("*");
    } else {
        for (const auto& raw : names) {
            std::string name;
            if (!SafeRelativePath(raw, name)) {
                refused.push_back(raw + ": not a name below the folder");
                continue;
            }
            if (!c.AddName(name))
                all = false;
        }
    }
    SourceList list = c.Take();
    list.refused.insert(list.refused.begin(), refused.begin(), refused.end());
    list.matchedAll = all;
    return list;
}

int OpenSource(const std::string& base, const Source& source)
{
    int baseFd = open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0)
        return -1;
    const std::string& rel = source.path;
    size_t slash = rel.rfind('/');
    int folder = OpenFolder(baseFd, slash == std::string::npos ? std::string() : rel.substr(0, slash));
    close(baseFd);
    if (folder < 0)
        return -1;
    int fd = openat(folder, rel.c_str() + (slash == std::string::npos ? 0 : slash + 1),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    int saved = errno;
    close(folder);
    // What was collected as a file may have been replaced since (by a FIFO
    // or a device that would block the read for ever): only a regular file
    // is read.
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        fd = -1;
        saved = EINVAL;
    }
    errno = saved;
    return fd;
}

} // namespace arc
