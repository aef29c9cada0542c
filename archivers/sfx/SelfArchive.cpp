#include "sfx/SelfArchive.h"

#include "ArchiverApi.h"
#include "core/CheckSink.h"
#include "core/Extraction.h"
#include "core/Files.h"
#include "core/Listing.h"
#include "core/Payload.h"
#include "core/Readers.h"

#include <climits>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace arc {
namespace {

// Calls f for every line of a text until it returns false.
template <typename F>
void ForEachLine(const std::string& text, F&& f)
{
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (!f(text.substr(start, end - start)))
            return;
        start = end + 1;
    }
}

std::string SelfPath(const char* argv0)
{
    char buffer[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n > 0)
        return std::string(buffer, static_cast<size_t>(n));
    std::string name = argv0 ? argv0 : "";
    if (name.empty() || name.find('/') != std::string::npos)
        return name;
    return FindOnPath(name, [](const std::string& candidate) { return access(candidate.c_str(), X_OK) == 0; });
}

} // namespace

SelfArchive::SelfArchive(const std::vector<Kind>& kinds, const char* argv0) : path_(SelfPath(argv0))
{
    struct stat st {};
    if (path_.empty() || stat(path_.c_str(), &st) != 0) {
        why_ = "this program cannot read itself";
        return;
    }
    if (PayloadStart(path_) >= static_cast<uint64_t>(st.st_size)) {
        why_ = "no archive follows this program";
        return;
    }
    for (Kind kind : kinds) {
        if (Recognises(kind, path_)) {
            kind_ = kind;
            found_ = true;
            return;
        }
    }
    why_ = "the archive that follows this program is damaged or of an unknown kind";
}

int SelfArchive::Extract(const std::string& destination, std::string& log, int& extracted) const
{
    Command cmd;
    cmd.word = "x";
    cmd.archive = path_;
    cmd.destination = destination.empty() ? std::string("./") : destination;
    if (cmd.destination.back() != '/')
        cmd.destination += '/';
    Extraction job(kind_, cmd);
    if (job.Open())
        ReadArchive(kind_, path_, job);
    int result = job.Finish();
    log = job.LogText();
    extracted = 0;
    ForEachLine(log, [&](const std::string& line) {
        if (!line.empty() && line.compare(0, 6, "error:") != 0 && line.compare(0, 7, "failed:") != 0
            && line.compare(0, 8, "refused ") != 0 && line.compare(0, 7, "cannot ") != 0
            && line.compare(0, 8, "warning:") != 0 && line.compare(0, 8, "skipped ") != 0)
            ++extracted;
        return true;
    });
    return result;
}

int SelfArchive::List(std::ostream& out) const
{
    Listing listing = ListArchive(kind_, path_);
    for (const auto& m : listing.members) {
        char when[32] = "                   ";
        if (m.mtime >= 0) {
            time_t t = static_cast<time_t>(m.mtime);
            struct tm tm {};
            if (localtime_r(&t, &tm))
                std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
        }
        char size[32];
        std::snprintf(size, sizeof size, "%12llu", static_cast<unsigned long long>(m.size));
        out << size << "  " << when << "  " << LogLine(m.name) << (m.type == Member::Folder ? "/" : "") << "\n";
    }
    return listing.error;
}

int SelfArchive::Test(std::string& log) const
{
    CheckSink check(true);
    ReadArchive(kind_, path_, check);
    if (!check.Valid())
        log = "error: the archive is damaged";
    return check.Error();
}

std::string SelfArchive::FirstError(const std::string& log, int result)
{
    std::string first;
    ForEachLine(log, [&](const std::string& line) {
        for (const char* head : {"error: ", "refused ", "cannot "})
            if (line.compare(0, std::string(head).size(), head) == 0) {
                first = line.compare(0, 7, "error: ") == 0 ? line.substr(7) : line;
                return false;
            }
        return true;
    });
    if (!first.empty())
        return first;
    switch (result) {
    case ARCERR_WRITE:
        return "the destination cannot be written";
    case ARCERR_CRC:
        return "a member fails its check value";
    case ARCERR_ABORTED:
        return "aborted";
    default:
        return "the archive is damaged";
    }
}

} // namespace arc
