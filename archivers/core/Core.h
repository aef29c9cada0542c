// The work behind every library's entries; each library file only names
// its kind and its entry prefixes (Exports.h).
//
// Handles from OpenArchive are kept in a table, so CloseArchive or
// FindFirst of an unknown or already closed handle answers an error instead
// of crashing. No exception leaves an entry: an unexpected one ends the call
// with an error result.
//
// The LHA library is handed ARJ archives by the ARJ back-end for its
// operations other than extraction: it reads them (into memory) with the
// ARJ reader, and refuses to write an ARJ archive (ARCERR_METHOD), leaving
// an existing one untouched, since this library writes LHA only.
#pragma once
#include "ArchiverApi.h"
#include "core/CommandLine.h"

namespace arc {

int RunCommand(Kind kind, Entry entry, ARC_HWND owner, const char* commandLine, char* output, int outputSize);
HARC OpenArchive(Kind kind, ARC_HWND window, const char* path, int mode);
int CloseArchive(Kind kind, HARC archive);
int FindFirst(Kind kind, HARC archive, const char* wildName, INDIVIDUALINFO* info);
int FindNext(Kind kind, HARC archive, INDIVIDUALINFO* info);
// Low two bits of mode: 0 first header, 1 every header, 2 or 3 every
// header and all data (each member decoded and its check value verified).
int CheckArchive(Kind kind, const char* path, int mode);
int ExtractMem(Kind kind, ARC_HWND owner, const char* commandLine, void* buffer, int size, void* time,
               void* attributes, int* written);
int SetOwnerWindowEx(ARC_HWND window, void* reserved);
int KillOwnerWindowEx(ARC_HWND window);
int TarGetArchiveType(const char* path);

} // namespace arc
