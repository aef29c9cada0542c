// A stand-in archiver library for the tests of the archive component. It is
// built once per library name ("UNLHA32.DLL", ...) with PREFIX set to the
// entry prefix, exports the same entries as the real library and remembers
// what it was handed, for the tests to query through Recorder* entries.
//
// OpenArchive / CheckArchive accept a file that contains "<PREFIX>!"
// (so "Unlha!" for the LHA library); TarGetArchiveType answers the digit
// after "Tar=". While an owner window is set, the command entry sends
// "wm_arcextract" (begin, end) for one member named "member.txt" and answers
// 0x800A when the window replies 1.
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

EXPORT int PREFIX(ARC_HWND owner, const char* cmd, char* output, int size)
{
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

EXPORT HARC CAT(PREFIX, OpenArchive)(ARC_HWND, const char* path, int mode)
{
    lastOpenPath = path ? path : "";
    lastOpenMode = mode;
    return marked(path, STR(PREFIX) "!") ? 1 : 0;
}

EXPORT int CAT(PREFIX, CloseArchive)(HARC) { return 0; }

EXPORT int CAT(PREFIX, CheckArchive)(const char* path, int mode)
{
    return mode == 16 && marked(path, STR(PREFIX) "!") ? 1 : 0;
}

EXPORT int CAT(PREFIX, SetOwnerWindowEx)(ARC_HWND window, void*)
{
    progressWindow = window;
    return 1;
}

EXPORT int CAT(PREFIX, KillOwnerWindowEx)(ARC_HWND window)
{
    if (window == progressWindow)
        progressWindow = 0;
    return 1;
}

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

#else

// A library with the right name and none of the entries.
EXPORT int RecorderNothing() { return 0; }

#endif
