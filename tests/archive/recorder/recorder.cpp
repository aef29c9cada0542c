// A stand-in archiver library for the tests of the archive component. It is
// built once per library name ("UNLHA32.DLL", ...) with PREFIX set to the
// entry prefix, exports the same entries as the real library and remembers
// what it was handed, for the tests to query through Recorder* entries.
//
// OpenArchive / CheckArchive accept a file that contains "<PREFIX>!"
// (so "Unlha!" for the LHA library, "UnZip!" for every ZIP library); TarGetArchiveType answers the digit
// after "Tar=". While an owner window is set, the command entry sends
// "wm_arcextract" (begin, end) for one member named "member.txt" and answers
// 0x800A when the window replies 1.
//
// Every call is also reported, as "LIBRARY ENTRY" (the library's file
// name), to RecorderTrace in the program when it has one, so that the order
// of calls across libraries can be checked. FindFirst answers one member
// "member.txt" of 10 bytes, FindNext none; ExtractMem writes "recorded".
//
//   RECORDER_ZIP         the library also has "Zip" (ZIP32J.DLL, LMZIP32.DLL)
//   RECORDER_NO_COMMAND  no command entry of the prefix (ZIP32J.DLL)
//   RECORDER_NO_OWNER    no owner-window entries (ZIP32J.DLL, LMZIP32.DLL)
#include "archivers/ArchiverApi.h"

#include <dlfcn.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#define CAT2(a, b) a##b
#define CAT(a, b) CAT2(a, b)
#define STR2(a) #a
#define STR(a) STR2(a)
#define EXPORT extern "C" __attribute__((visibility("default")))
// The text that makes a file one of the library's kind: the prefix, "UnZip"
// for every ZIP library.
#ifndef MARKER
#define MARKER PREFIX
#endif

#ifndef RECORDER_EMPTY

namespace {

std::string commandLine;
ARC_HWND commandOwner = 0;
bool outputNull = true;
int outputSize = -1;
int result = 0;
int calls = 0;
ARC_HWND progressWindow = 0;
std::string lastOpenPath;
int lastOpenMode = -1;

bool marked(const char* path, const std::string& marker)
{
    std::ifstream in(path ? path : "", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.find(marker) != std::string::npos;
}

using SendFn = intptr_t (*)(uintptr_t, unsigned, uintptr_t, intptr_t);
using RegisterFn = unsigned (*)(const char*);

std::string lastEntry;
std::string lastWildcard;
int lastCheckMode = -1;

void trace(const char* entry)
{
    lastEntry = entry;
    using TraceFn = void (*)(const char*);
    auto fn = reinterpret_cast<TraceFn>(dlsym(RTLD_DEFAULT, "RecorderTrace"));
    if (fn)
        fn((std::string(STR(LIBRARY)) + " " + entry).c_str());
}

intptr_t sendProgress(int state, EXTRACTINGINFOEX& info)
{
    auto send = reinterpret_cast<SendFn>(dlsym(RTLD_DEFAULT, "SendMessageA"));
    auto reg = reinterpret_cast<RegisterFn>(dlsym(RTLD_DEFAULT, "RegisterWindowMessageA"));
    if (!send || !reg || !progressWindow)
        return 0;
    return send(progressWindow, reg(ARC_WM_ARCEXTRACT), static_cast<uintptr_t>(state),
                reinterpret_cast<intptr_t>(&info));
}

} // namespace

int command(const char* entry, ARC_HWND owner, const char* cmd, char* output, int size)
{
    trace(entry);
    ++calls;
    commandLine = cmd ? cmd : "";
    commandOwner = owner;
    outputNull = output == nullptr;
    outputSize = size;
    if (output && size > 0) {
        std::strncpy(output, "recorded", static_cast<size_t>(size) - 1);
        output[size - 1] = '\0';
    }
    if (progressWindow) {
        EXTRACTINGINFOEX info{};
        info.FileSize = 10;
        std::strcpy(info.SourceFileName, "member.txt");
        if (sendProgress(ARCEXTRACT_BEGIN, info) == 1)
            return ARCERR_ABORTED;
        info.WriteSize = 10;
        if (sendProgress(ARCEXTRACT_END, info) == 1)
            return ARCERR_ABORTED;
    }
    return result;
}

#ifndef RECORDER_NO_COMMAND
EXPORT int PREFIX(ARC_HWND owner, const char* cmd, char* output, int size)
{
    return command(STR(PREFIX), owner, cmd, output, size);
}
#endif

#ifdef RECORDER_ZIP
EXPORT int Zip(ARC_HWND owner, const char* cmd, char* output, int size) { return command("Zip", owner, cmd, output, size); }
#endif

EXPORT HARC CAT(PREFIX, OpenArchive)(ARC_HWND, const char* path, int mode)
{
    trace("OpenArchive");
    lastOpenPath = path ? path : "";
    lastOpenMode = mode;
    return marked(path, STR(MARKER) "!") ? 1 : 0;
}

EXPORT int CAT(PREFIX, CloseArchive)(HARC)
{
    trace("CloseArchive");
    return 0;
}

EXPORT int CAT(PREFIX, FindFirst)(HARC, const char* wildName, INDIVIDUALINFO* info)
{
    trace("FindFirst");
    lastWildcard = wildName ? wildName : "";
    if (info) {
        *info = INDIVIDUALINFO{};
        info->OriginalSize = 10;
        std::strcpy(info->FileName, "member.txt");
    }
    return 0;
}

EXPORT int CAT(PREFIX, FindNext)(HARC, INDIVIDUALINFO*)
{
    trace("FindNext");
    return -1;
}

EXPORT int CAT(PREFIX, CheckArchive)(const char* path, int mode)
{
    trace("CheckArchive");
    lastCheckMode = mode;
    lastOpenPath = path ? path : "";
    return mode == 16 && marked(path, STR(MARKER) "!") ? 1 : 0;
}

EXPORT int CAT(PREFIX, ExtractMem)(ARC_HWND owner, const char* cmd, void* buffer, int size, void*, void*, int* written)
{
    trace("ExtractMem");
    ++calls;
    commandLine = cmd ? cmd : "";
    commandOwner = owner;
    const int n = size < 8 ? size : 8;
    if (buffer && n > 0)
        std::memcpy(buffer, "recorded", static_cast<size_t>(n));
    if (written)
        *written = n;
    return result;
}

#ifndef RECORDER_NO_OWNER
EXPORT int CAT(PREFIX, SetOwnerWindowEx)(ARC_HWND window, void*)
{
    trace("SetOwnerWindowEx");
    progressWindow = window;
    return 1;
}

EXPORT int CAT(PREFIX, KillOwnerWindowEx)(ARC_HWND window)
{
    trace("KillOwnerWindowEx");
    if (window == progressWindow)
        progressWindow = 0;
    return 1;
}
#endif

#ifdef RECORDER_TAR
EXPORT int TarGetArchiveType(const char* path)
{
    std::ifstream in(path ? path : "", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.find("Tar=");
    return at == std::string::npos || at + 4 >= text.size() ? 0 : text[at + 4] - '0';
}
#endif

EXPORT const char* RecorderCommandLine() { return commandLine.c_str(); }
EXPORT ARC_HWND RecorderOwner() { return commandOwner; }
EXPORT int RecorderOutputNull() { return outputNull ? 1 : 0; }
EXPORT int RecorderOutputSize() { return outputSize; }
EXPORT int RecorderCalls() { return calls; }
EXPORT ARC_HWND RecorderProgressWindow() { return progressWindow; }
EXPORT void RecorderSetResult(int value) { result = value; }
EXPORT const char* RecorderLastOpenPath() { return lastOpenPath.c_str(); }
EXPORT int RecorderLastOpenMode() { return lastOpenMode; }
EXPORT const char* RecorderLastEntry() { return lastEntry.c_str(); }
EXPORT const char* RecorderLastWildcard() { return lastWildcard.c_str(); }
EXPORT int RecorderLastCheckMode() { return lastCheckMode; }

#else

// A library with the right name and none of the entries.
EXPORT int RecorderNothing() { return 0; }

#endif
