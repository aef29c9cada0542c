#include "core/Core.h"

#include "core/CheckSink.h"
#include "core/Extraction.h"
#include "core/LibarchiveReader.h"
#include "core/Progress.h"
#include "core/Readers.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>

namespace arc {
namespace {

struct Handle {
    Kind kind;
    std::string path;
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

} // namespace

int RunCommand(Kind kind, ARC_HWND /*owner*/, const char* commandLine, char* output, int outputSize)
{
    try {
        CopyLog("", output, outputSize);
        if (!commandLine) {
            CopyLog("error: no command line\n", output, outputSize);
            return ARCERR_COMMAND;
        }
        Command cmd = ParseCommandLine(commandLine, kind);
        if (cmd.error) {
            CopyLog("error: " + cmd.message + "\n", output, outputSize);
            return cmd.error;
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
        auto* h = new Handle{kind, path};
        std::lock_guard<std::mutex> lock(g_handlesLock);
        g_handles.insert(h);
        return reinterpret_cast<HARC>(h);
    } catch (...) {
        return 0;
    }
}

int CloseArchive(Kind kind, HARC archive)
{
    auto* h = reinterpret_cast<Handle*>(archive);
    std::lock_guard<std::mutex> lock(g_handlesLock);
    auto it = g_handles.find(h);
    if (it == g_handles.end() || (*it)->kind != kind)
        return -1;
    g_handles.erase(it);
    delete h;
    return 0;
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
