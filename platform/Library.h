// Loading libraries by file name, as the program's Windows counterpart does
// with LoadLibraryA / GetProcAddress / GetModuleFileNameA.
//
// A name without a "/" is searched for like Windows searches for a library:
//   1. the program's own folder: PrivateFolder(), which is the folder of
//      /proc/self/exe itself when the program runs from its build folder or
//      a publisher's copy, and the program's private folder when it is
//      installed (see PrivateFolder),
//   2. the current directory,
//   3. the system's library path (dlopen's own search: LD_LIBRARY_PATH, the
//      loader cache, /lib, /usr/lib).
// In the first two folders the name is looked up exactly first and then,
// when no such file exists, by a match that ignores case (ResolveName), so
// "tar32.dll" finds "TAR32.DLL". The system path is searched exactly only.
// A file that is found but cannot be loaded (not a shared library, missing
// dependencies) is passed over and the search goes on; LoadLibraryA returns
// 0 only when nothing along the path could be loaded. A name with a "/" is
// loaded from that place only (its last component resolved the same way).
//
// Libraries are opened with RTLD_NOW | RTLD_LOCAL, so two libraries that
// export the same entry names never see each other's entries. Loading the
// same file twice returns the same handle (dlopen counts references);
// FreeLibrary drops one reference.
#pragma once
#include "platform/WinTypes.h"

#include <string>

using HMODULE = void*;

HMODULE LoadLibraryA(const char* fileName);
bool FreeLibrary(HMODULE module);
// The entry's address, nullptr when the library does not export it or the
// handle is 0.
void* GetProcAddress(HMODULE module, const char* entryName);
// Copies the full path of the library's file (of the program itself for a
// handle of 0) into buffer: at most size - 1 bytes and a terminating NUL.
// Returns the number of bytes copied without the NUL, 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);

// The program's own folder (the folder of /proc/self/exe), with a trailing "/".
std::string ProgramFolder();
// The folder that stands for the program's own folder wherever the program
// looks for the files that lie beside it on Windows (archiver libraries,
// self-extracting stubs), with a trailing "/". Installed, the program lies in
// PREFIX/bin and those files in its private folder PREFIX/lib/fetchlet (the
// library folder as the build was configured with, e.g.
// lib/x86_64-linux-gnu/fetchlet); that folder is reached from the program's
// own location, so a moved prefix still works, and is returned, resolved,
// when it exists. Otherwise (the build folder, a publisher's copy: one folder
// for everything) it is ProgramFolder().
std::string PrivateFolder();
// The last error of the loader (dlerror) seen by LoadLibraryA, for diagnostics.
std::string LastLibraryError();
