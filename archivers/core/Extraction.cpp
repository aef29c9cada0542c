#include "core/Extraction.h"

#include "core/Progress.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arc {
namespace {

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '/') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

void CopyText(char* dst, size_t size, const std::string& text)
{
    size_t n = std::min(size - 1, text.size());
    std::memcpy(dst, text.data(), n);
    dst[n] = 0;
}

} // namespace

bool SafeRelativePath(const std::string& name, std::string& out)
{
    out.clear();
    // A NUL ends the name for the system: "..\0x" would be taken for "..".
    if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos)
        return false;
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
        return false;
    for (auto& part : SplitPath(name)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return false;
        if (!out.empty())
            out += '/';
        out += part;
    }
    return !out.empty();
}

bool SafeLinkTarget(const std::string& relPath, const std::string& target)
{
    if (target.empty() || target[0] == '/' || target.find('\0') != std::string::npos)
        return false;
    std::vector<std::string> stack = SplitPath(relPath);
    stack.pop_back(); // the link itself
    bool named = false;
    for (auto& part : SplitPath(target)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            // ".." after a name could climb out through another link.
            if (named || stack.empty())
                return false;
            stack.pop_back();
        } else {
            named = true;
        }
    }
    return true;
}

Extraction::Extraction(Kind kind, const Command& command)
    : kind_(kind), destination_(command.destination), names_(command.names),
      settings_(SettingsFor(command, kind))
{
}

Extraction::~Extraction()
{
    if (inMember_)
        CloseMember(false);
    if (destFd_ >= 0)
        close(destFd_);
}

bool Extraction::Open()
{
    std::string dest = destination_.empty() ? std::string(".") : destination_;
    // Create the folder and its missing parents (the destination is the
    // caller's choice, so links in it are followed).
    for (size_t i = 1; i <= dest.size(); ++i) {
        if (i == dest.size() || dest[i] == '/') {
            std::string prefix = dest.substr(0, i);
            struct stat st {};
            if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST
                && !(stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
                Fail(ARCERR_WRITE, "cannot create the folder " + prefix + ": " + std::strerror(errno));
                return false;
            }
        }
    }
    destFd_ = open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (destFd_ < 0) {
        Fail(ARCERR_WRITE, "cannot open the folder " + dest + ": " + std::strerror(errno));
        return false;
    }
    if (!destination_.empty() && destination_.back() != '/')
        destination_ += '/';
    return true;
}

bool Extraction::Selected(const std::string& path) const
{
    bool escape = kind_ != Kind::Zip;
    for (auto& ex : settings_.excludes)
        if (NameMatches(ex, path, escape))
            return false;
    if (names_.empty())
        return true;
    for (auto& n : names_)
        if (NameMatches(n, path, escape))
            return true;
    return false;
}

std::string LogLine(std::string line)
{
    for (auto& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return line;
}

void Extraction::Note(const std::string& line) { log_ += LogLine(line) + "\n"; }

void Extraction::Fail(int error, const std::string& message)
{
    if (result_ == 0)
        result_ = error;
    Note("error: " + message);
}

void Extraction::SendState(unsigned state)
{
    if (SendProgress(state, info_)) {
        stopped_ = true;
        if (result_ == 0)
            result_ = ARCERR_ABORTED;
    }
}

int Extraction::OpenParent(const std::vector<std::string>& parts, size_t count, int& error, bool create)
{
    int fd = dup(destFd_);
    if (fd < 0) {
        error = ARCERR_WRITE;
        return -1;
    }
    for (size_t i = 0; i < count; ++i) {
        const char* name = parts[i].c_str();
        int next = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(fd, name, 0755) != 0 && errno != EEXIST) {
                close(fd);
                error = ARCERR_WRITE;
                return -1;
            }
            next = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            struct stat st {};
            bool link = fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            close(fd);
            error = link ? ARCERR_UNSAFE : ARCERR_WRITE;
            return -1;
        }
        close(fd);
        fd = next;
    }
    return fd;
}

Step Extraction::BeginMember(const Member& member)
{
    if (stopped_)
        return Step::Stop;
    std::string rel;
    if (!SafeRelativePath(member.name, rel)) {
        if (member.type == Member::Folder && !member.name.empty() && member.name.find("..") == std::string::npos
            && member.name[0] != '/')
            return Step::Skip; // "./" and the like: nothing to make
        if (result_ == 0)
            result_ = ARCERR_UNSAFE;
        Note("refused (unsafe path): " + member.name);
        return Step::Skip;
    }
    if (!Selected(rel))
        return Step::Skip;
    matchedAny_ = true;
    if (!settings_.keepFolders) {
        if (member.type == Member::Folder)
            return Step::Skip;
        rel = rel.substr(rel.rfind('/') == std::string::npos ? 0 : rel.rfind('/') + 1);
    }
    std::string linkTarget = member.link;
    if (member.type == Member::Symlink && !SafeLinkTarget(rel, member.link)) {
        if (result_ == 0)
            result_ = ARCERR_UNSAFE;
        Note("refused (link pointing outside): " + member.name + " -> " + member.link);
        return Step::Skip;
    }
    if (member.type == Member::Hardlink) {
        if (!SafeRelativePath(member.link, linkTarget)) {
            if (result_ == 0)
                result_ = ARCERR_UNSAFE;
            Note("refused (link pointing outside): " + member.name + " -> " + member.link);
            return Step::Skip;
        }
        if (!settings_.keepFolders && linkTarget.rfind('/') != std::string::npos)
            linkTarget = linkTarget.substr(linkTarget.rfind('/') + 1);
    }

    current_ = member;
    info_ = EXTRACTINGINFOEX{};
    info_.FileSize = member.size;
    info_.CompressedSize = member.compressedSize;
    info_.CRC = member.crc;
    info_.Attributes = member.attributes | (member.type == Member::Folder ? 0x10 : 0);
    info_.Date = DosDate(member.mtime);
    info_.Time = DosTime(member.mtime);
    CopyText(info_.Mode, sizeof info_.Mode, member.method);
    CopyText(info_.SourceFileName, sizeof info_.SourceFileName, member.name);
    CopyText(info_.DestFileName, sizeof info_.DestFileName, destination_ + rel);
    sentInProcess_ = false;
    SendState(ARCEXTRACT_BEGIN);
    if (stopped_)
        return Step::Stop;

    std::vector<std::string> parts = SplitPath(rel);
    int error = 0;
    size_t parents = member.type == Member::Folder ? parts.size() : parts.size() - 1;
    int parent = OpenParent(parts, parents, error);
    if (parent < 0) {
        if (result_ == 0)
            result_ = error;
        Note((error == ARCERR_UNSAFE ? "refused (link in the way): " : "cannot create the folder for: ") + rel);
        SendState(ARCEXTRACT_END);
        return stopped_ ? Step::Stop : Step::Skip;
    }
    inMember_ = true;
    parentFd_ = parent;
    leaf_ = member.type == Member::Folder ? std::string() : parts.back();
    if (member.type == Member::Folder)
        return Step::Write;

    if (member.type == Member::Symlink || member.type == Member::Hardlink) {
        int rc;
        if (member.type == Member::Symlink) {
            unlinkat(parent, leaf_.c_str(), 0);
            rc = symlinkat(linkTarget.c_str(), parent, leaf_.c_str());
        } else {
            // The target's folders are walked without following links too,
            // so a link made earlier cannot lead the hard link outside.
            std::vector<std::string> targetParts = SplitPath(linkTarget);
            int targetError = 0;
            int targetParent = OpenParent(targetParts, targetParts.size() - 1, targetError, false);
            rc = -1;
            bool unsafe = false;
            if (targetParent >= 0) {
                // A hard link to a symbolic link is that link in another
                // place: its target must be safe from there too.
                struct stat st {};
                const char* leaf = targetParts.back().c_str();
                if (fstatat(targetParent, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
                    char target[4096];
                    ssize_t n = readlinkat(targetParent, leaf, target, sizeof target - 1);
                    unsafe = n <= 0 || !SafeLinkTarget(rel, std::string(target, static_cast<size_t>(n)));
                }
                if (!unsafe) {
                    unlinkat(parent, leaf_.c_str(), 0);
                    rc = linkat(targetParent, leaf, parent, leaf_.c_str(), 0);
                }
                close(targetParent);
            }
            if (unsafe) {
                leaf_.clear();
                if (result_ == 0)
                    result_ = ARCERR_UNSAFE;
                Note("refused (link pointing outside): " + member.name + " -> " + member.link);
                CloseMember(false);
                SendState(ARCEXTRACT_END);
                return stopped_ ? Step::Stop : Step::Skip;
            }
        }
        if (rc != 0) {
            std::string why = std::strerror(errno);
            leaf_.clear();
            EndMember(false, ARCERR_WRITE, "cannot make the link " + rel + ": " + why);
            return Step::Skip;
        }
        return Step::Write;
    }

    // The file is written under a temporary name beside its final place.
    static unsigned counter = 0;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp_ = ".arc" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".part";
        fd = openat(parent, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        std::string why = std::strerror(errno);
        temp_.clear();
        leaf_.clear();
        EndMember(false, ARCERR_WRITE, "cannot create " + rel + ": " + why);
        return Step::Skip;
    }
    fileFd_ = fd;
    written_ = 0;
    pendingHole_ = false;
    return Step::Write;
}

bool Extraction::OnWrite(const void* data, size_t size)
{
    if (fileFd_ < 0)
        return !stopped_;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fileFd_, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (result_ == 0)
                result_ = ARCERR_WRITE;
            Note("cannot write " + std::string(info_.DestFileName) + ": " + std::strerror(errno));
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
        info_.WriteSize += static_cast<uint64_t>(n);
    }
    pendingHole_ = false;
    sentInProcess_ = true;
    SendState(ARCEXTRACT_INPROCESS);
    return !stopped_;
}

bool Extraction::OnHole(uint64_t size)
{
    if (fileFd_ < 0 || size == 0)
        return !stopped_;
    if (size > static_cast<uint64_t>(INT64_MAX) - written_
        || lseek(fileFd_, static_cast<off_t>(size), SEEK_CUR) < 0) {
        if (result_ == 0)
            result_ = ARCERR_WRITE;
        Note("cannot write " + std::string(info_.DestFileName) + ": " + std::strerror(errno));
        return false;
    }
    written_ += size;
    info_.WriteSize += size;
    pendingHole_ = true;
    return !stopped_;
}

void Extraction::CloseMember(bool keepTemp)
{
    if (fileFd_ >= 0)
        close(fileFd_);
    fileFd_ = -1;
    if (!keepTemp && !temp_.empty() && parentFd_ >= 0)
        unlinkat(parentFd_, temp_.c_str(), 0);
    temp_.clear();
    if (parentFd_ >= 0)
        close(parentFd_);
    parentFd_ = -1;
    leaf_.clear();
    inMember_ = false;
}

void Extraction::EndMember(bool ok, int error, const std::string& why)
{
    if (!why.empty())
        Note(why);
    if (ok && fileFd_ >= 0) {
        // A hole at the end has no data after it to fix the length.
        bool done = !pendingHole_ || ftruncate(fileFd_, static_cast<off_t>(written_)) == 0;
        uint32_t mode = current_.mode ? (current_.mode & 0755) : 0644;
        if (!current_.mode && (current_.attributes & 1))
            mode = 0444;
        if (current_.mtime >= 0) {
            struct timespec times[2];
            times[0].tv_sec = 0;
            times[0].tv_nsec = UTIME_OMIT;
            times[1].tv_sec = static_cast<time_t>(current_.mtime);
            times[1].tv_nsec = 0;
            futimens(fileFd_, times);
        }
        fchmod(fileFd_, mode | 0400);
        if (close(fileFd_) != 0)
            done = false;
        fileFd_ = -1;
        if (done && renameat(parentFd_, temp_.c_str(), parentFd_, leaf_.c_str()) != 0)
            done = false;
        if (!done) {
            Note("cannot write " + std::string(info_.DestFileName) + ": " + std::strerror(errno));
            ok = false;
            error = ARCERR_WRITE;
        } else {
            temp_.clear();
        }
    }
    CloseMember(false);
    if (!ok) {
        if (error != 0 && result_ == 0)
            result_ = error;
        Note("failed: " + current_.name);
    } else {
        if (!sentInProcess_)
            SendState(ARCEXTRACT_INPROCESS);
        Note(current_.name);
    }
    if (!stopped_)
        SendState(ARCEXTRACT_END);
}

void Extraction::AbandonMember(const std::string& why)
{
    if (!why.empty())
        Note(why);
    CloseMember(false);
    if (!stopped_)
        SendState(ARCEXTRACT_END);
}

int Extraction::Finish()
{
    if (inMember_)
        EndMember(false);
    if (result_ == 0 && !names_.empty() && !matchedAny_) {
        result_ = ARCERR_NO_FILES;
        Note("error: no member matches the names given");
    }
    return result_;
}

} // namespace arc
