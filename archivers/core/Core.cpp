#include "core/Core.h"

#include "core/ArjReader.h"
#include "core/CheckSink.h"
#include "core/Extraction.h"
#include "core/LibarchiveReader.h"
#include "core/Listing.h"
#include "core/Progress.h"
#include "core/Readers.h"
#include "core/SelfExtracting.h"
#include "core/Update.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <strings.h>
#include <sys/stat.h>

namespace arc {
namespace {

struct Handle {
    Kind kind;
    std::string path;
    Listing listing;
    bool listed = false;
    std::string wildcard;
    size_t next = 0;
};

std::mutex g_handlesLock;
std::set<Handle*> g_handles;

void CopyLog(const std::string& log, char* output, int outputSize)
{
    if (!output || outputSize <= 0)
        return;
    size_t n = std::min(log.size(), static_cast<size_t>(outputSize) - 1);
    std::memcpy(output, log.data(), n);
    output[n] = 0;
}

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool NamedArj(const std::string& path) { return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".arj") == 0; }

// The kind an archive is read as: the LHA library reads the ARJ archives
// the ARJ back-end hands it with the ARJ reader.
Kind ReadingKind(Kind kind, const std::string& path)
{
    if (kind == Kind::Lha && (NamedArj(path) || (!Recognises(Kind::Lha, path) && ArjRecognises(path))))
        return Kind::Arj;
    return kind;
}

Handle* Find(Kind kind, HARC archive)
{
    auto* h = reinterpret_cast<Handle*>(archive);
    auto it = g_handles.find(h);
    return it == g_handles.end() || (*it)->kind != kind ? nullptr : h;
}

// The next member the handle's wildcard matches.
int Next(Handle& h, INDIVIDUALINFO* info)
{
    if (!h.listed) {
        h.listing = ListArchive(h.kind, h.path);
        h.listed = true;
    }
    while (h.next < h.listing.members.size()) {
        const Member& m = h.listing.members[h.next++];
        if (h.wildcard.empty() || h.wildcard == "*" || h.wildcard == "*.*"
            || NameMatches(h.wildcard, m.name, h.kind != Kind::Zip)) {
            if (info)
                FillRecord(m, *info);
            return 0;
        }
    }
    return h.listing.members.empty() && h.listing.error ? h.listing.error : -1;
}

} // namespace

int RunCommand(Kind kind, Entry entry, ARC_HWND /*owner*/, const char* commandLine, char* output, int outputSize)
{
    try {
        CopyLog("", output, outputSize);
        if (!commandLine) {
            CopyLog("error: no command line\n", output, outputSize);
            return ARCERR_COMMAND;
        }
        // "-A PATH": the path comes unquoted, blanks and all.
        if (entry == Entry::Zip && std::strncmp(commandLine, "-A ", 3) == 0) {
            std::string path = commandLine + 3, log;
            while (!path.empty() && (path.back() == ' ' || path.back() == '\t'))
                path.pop_back();
            if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
                path = path.substr(1, path.size() - 2);
            int result = AdjustZipOffsets(path, log);
            CopyLog(log, output, outputSize);
            return result;
        }
        Command cmd = ParseCommandLine(commandLine, kind, entry);
        if (cmd.error) {
            CopyLog("error: " + cmd.message + "\n", output, outputSize);
            return cmd.error;
        }
        if (Writes(cmd)) {
            std::string log;
            int result;
            if (cmd.word == "A") {
                result = AdjustZipOffsets(cmd.archive, log);
            } else if (cmd.word == "s" || (kind == Kind::Cab && cmd.word == "f")) {
                result = MakeSelfExtracting(kind, cmd, log);
            } else if (kind == Kind::Lha && ReadingKind(kind, cmd.archive) == Kind::Arj) {
                log = "error: " + cmd.archive + ": ARJ archives are not written by this library; it is left as it was\n";
                result = ARCERR_METHOD;
            } else {
                result = RunUpdate(kind, cmd, log);
            }
            CopyLog(log, output, outputSize);
            return result;
        }
        Extraction job(kind, cmd);
        if (!IsRegularFile(cmd.archive)) {
            job.Fail(ARCERR_OPEN, "cannot open " + cmd.archive);
        } else if (job.Open()) {
            ReadArchive(kind, cmd.archive, job);
        }
        int result = job.Finish();
        CopyLog(job.LogText(), output, outputSize);
        return result;
    } catch (const std::exception& e) {
        CopyLog(std::string("error: ") + e.what() + "\n", output, outputSize);
        return ARCERR_DAMAGED;
    } catch (...) {
        return ARCERR_DAMAGED;
    }
}

HARC OpenArchive(Kind kind, ARC_HWND, const char* path, int)
{
    try {
        if (!path || !IsRegularFile(path) || !Recognises(kind, path))
            return 0;
        auto* h = new Handle{kind, path, {}, false, {}, 0};
        std::lock_guard<std::mutex> lock(g_handlesLock);
        g_handles.insert(h);
        return reinterpret_cast<HARC>(h);
    } catch (...) {
        return 0;
    }
}

int CloseArchive(Kind kind, HARC archive)
{
    std::lock_guard<std::mutex> lock(g_handlesLock);
    Handle* h = Find(kind, archive);
    if (!h)
        return -1;
    g_handles.erase(h);
    delete h;
    return 0;
}

int FindFirst(Kind kind, HARC archive, const char* wildName, INDIVIDUALINFO* info)
{
    try {
        std::lock_guard<std::mutex> lock(g_handlesLock);
        Handle* h = Find(kind, archive);
        if (!h)
            return ARCERR_OPEN;
        h->wildcard = wildName ? wildName : "";
        h->next = 0;
        return Next(*h, info);
    } catch (...) {
        return ARCERR_DAMAGED;
    }
}

int FindNext(Kind kind, HARC archive, INDIVIDUALINFO* info)
{
    try {
        std::lock_guard<std::mutex> lock(g_handlesLock);
        Handle* h = Find(kind, archive);
        if (!h)
            return ARCERR_OPEN;
        return Next(*h, info);
    } catch (...) {
        return ARCERR_DAMAGED;
    }
}

int CheckArchive(Kind kind, const char* path, int mode)
{
    try {
        if (!path || !IsRegularFile(path))
            return 0;
        int depth = mode & 3;
        if (depth == 0)
            return Recognises(kind, path) ? 1 : 0;
        CheckSink check(depth >= 2);
        ReadArchive(kind, path, check);
        return check.Valid() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int ExtractMem(Kind kind, ARC_HWND, const char* commandLine, void* buffer, int size, void* time, void* attributes,
               int* written)
{
    try {
        if (written)
            *written = 0;
        if (!commandLine || size < 0 || (!buffer && size > 0))
            return ARCERR_COMMAND;
        Command cmd = ParseCommandLine(commandLine, kind, Entry::Mem);
        if (cmd.error)
            return cmd.error;
        if (cmd.names.size() != 1)
            return ARCERR_COMMAND;
        if (!IsRegularFile(cmd.archive))
            return ARCERR_OPEN;
        size_t count = 0;
        Member member;
        int result = ExtractToMemory(ReadingKind(kind, cmd.archive), cmd.archive, cmd.names[0],
                                     static_cast<char*>(buffer), static_cast<size_t>(size), count, member);
        if (written)
            *written = static_cast<int>(count);
        if (time && result != ARCERR_NO_FILES)
            *static_cast<int64_t*>(time) = member.mtime;
        if (attributes && result != ARCERR_NO_FILES)
            *static_cast<uint16_t*>(attributes) = static_cast<uint16_t>(member.attributes);
        return result;
    } catch (...) {
        return ARCERR_DAMAGED;
    }
}

int SetOwnerWindowEx(ARC_HWND window, void*) { return SetOwner(window); }

int KillOwnerWindowEx(ARC_HWND window) { return KillOwner(window); }

int TarGetArchiveType(const char* path)
{
    try {
        if (!path || !IsRegularFile(path))
            return -1;
        return TarArchiveType(path);
    } catch (...) {
        return -1;
    }
}

} // namespace arc
