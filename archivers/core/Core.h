// The work behind every library's entries; each library file only names
// its kind and its entry prefix (Exports.h).
//
// Handles from OpenArchive are kept in a table, so CloseArchive of an
// unknown or already closed handle answers an error instead of crashing.
// No exception leaves an entry: an unexpected one ends the call with an
// error result.
#pragma once
#include "ArchiverApi.h"
#include "core/CommandLine.h"

namespace arc {

int RunCommand(Kind kind, ARC_HWND owner, const char* commandLine, char* output, int outputSize);
HARC OpenArchive(Kind kind, ARC_HWND window, const char* path, int mode);
int CloseArchive(Kind kind, HARC archive);
// Low two bits of mode: 0 first header, 1 every header, 2 or 3 every
// header and all data.
int CheckArchive(Kind kind, const char* path, int mode);
int SetOwnerWindowEx(ARC_HWND window, void* reserved);
int KillOwnerWindowEx(ARC_HWND window);
int TarGetArchiveType(const char* path);

} // namespace arc
