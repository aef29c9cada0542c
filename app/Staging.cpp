#include "app/Staging.h"

#include "app/Messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool noSuchCall(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// The entries of a folder, sorted; false when it cannot be read.
bool entriesOf(const std::string& dir, std::vector<std::string>& names)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return false;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return true;
}

void removeTree(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored); // links are removed, not followed
}

} // namespace

bool TStaging::Failed(const std::string& what, int error)
{
    error_ = what + " (" + TMessages::FileReason(error) + ")";
    return false;
}

TStaging::TStaging(std::string folder) : folder_(std::move(folder)) {}

TStaging::~TStaging() { Abandon(); }

std::string TStaging::Begin()
{
    Abandon();
    error_.clear();
    // Leftovers of a run that ended in the middle of a move.
    std::vector<std::string> names;
    if (entriesOf(folder_, names))
        for (const std::string& name : names)
            if (name.starts_with(Prefix))
                removeTree(folder_ + name);
    std::string pattern = folder_ + Prefix + "XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        Failed("展開する場所を作れません", errno);
        return {};
    }
    staging_ = pattern + "/";
    return staging_;
}

bool TStaging::MoveTree(const std::string& stagedDir, const std::string& targetDir)
{
    std::vector<std::string> names;
    if (!entriesOf(stagedDir, names))
        return Failed("展開したファイルを読めません", errno);
    for (const std::string& name : names) {
        const std::string staged = stagedDir + name;
        const std::string target = targetDir + name;
        const std::string shown = target.substr(folder_.size());
        struct stat from {}, to {};
        if (::lstat(staged.c_str(), &from) != 0)
            return Failed("展開したファイル " + shown + " を読めません", errno);
        const bool exists = ::lstat(target.c_str(), &to) == 0;
        if (S_ISDIR(from.st_mode)) {
            if (!exists) {
                // Writable while it fills; its own mode once it is full.
                if (::mkdir(target.c_str(), 0700) != 0)
                    return Failed("フォルダー " + shown + " を作れません", errno);
                done_.push_back({Step::MadeFolder, target, staged, {}});
            } else if (!S_ISDIR(to.st_mode)) {
                error_ = "フォルダー " + shown + " を置く場所に同じ名前のファイルがあります";
                return false;
            }
            if (!MoveTree(staged + "/", target + "/"))
                return false;
            if (!exists)
                ::chmod(target.c_str(), from.st_mode & 07777);
            continue;
        }
        if (exists && S_ISDIR(to.st_mode)) {
            error_ = "ファイル " + shown + " を置く場所に同じ名前のフォルダーがあります";
            return false;
        }
        int result = ::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(),
                                 exists ? RENAME_EXCHANGE : RENAME_NOREPLACE);
        if (result == 0) {
            done_.push_back({exists ? Step::Exchanged : Step::Moved, target, staged, {}});
            continue;
        }
        if (!noSuchCall(errno))
            return Failed("ファイル " + shown + " を置けません", errno);
        // A file system without the exchange: the old file waits beside
        // the staged one while the new one takes its place.
        if (!exists) {
            result = std::rename(staged.c_str(), target.c_str());
            if (result != 0)
                return Failed("ファイル " + shown + " を置けません", errno);
            done_.push_back({Step::Moved, target, staged, {}});
            continue;
        }
        const std::string backup = staged + ".old-version";
        if (std::rename(target.c_str(), backup.c_str()) != 0)
            return Failed("ファイル " + shown + " を置き換えられません", errno);
        if (std::rename(staged.c_str(), target.c_str()) != 0) {
            const int error = errno;
            std::rename(backup.c_str(), target.c_str());
            return Failed("ファイル " + shown + " を置き換えられません", error);
        }
        done_.push_back({Step::Renamed, target, staged, backup});
    }
    return true;
}

void TStaging::Undo()
{
    for (auto step = done_.rbegin(); step != done_.rend(); ++step) {
        switch (step->kind) {
        case Step::MadeFolder:
            ::rmdir(step->target.c_str());
            break;
        case Step::Moved:
            std::rename(step->target.c_str(), step->staged.c_str());
            break;
        case Step::Exchanged:
            ::renameat2(AT_FDCWD, step->target.c_str(), AT_FDCWD, step->staged.c_str(), RENAME_EXCHANGE);
            break;
        case Step::Renamed:
            std::rename(step->target.c_str(), step->staged.c_str());
            std::rename(step->backup.c_str(), step->target.c_str());
            break;
        }
    }
    done_.clear();
}

bool TStaging::Commit()
{
    error_.clear();
    done_.clear();
    if (staging_.empty()) {
        error_ = "展開したファイルがありません";
        return false;
    }
    if (!MoveTree(staging_, folder_)) {
        Undo();
        Abandon();
        return false;
    }
    done_.clear();
    Abandon(); // the old versions of replaced files go with it
    return true;
}

void TStaging::Abandon()
{
    if (staging_.empty())
        return;
    removeTree(staging_);
    staging_.clear();
}
