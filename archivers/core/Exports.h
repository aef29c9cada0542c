// Defines a library's exported entries, all with C linkage; everything
// else stays hidden. Included by exactly one file of each library, which
// thereby holds the library's owner window; every entry runs with it as the
// current owner (Progress.h).
//
//   ARC_COMMAND_ENTRY(prefix, kind)     the command entry (the prefix alone)
//   ARC_ZIP_ENTRY(kind)                 "Zip", the ZIP libraries' writing entry
//   ARC_READING_ENTRIES(prefix, kind)   OpenArchive, CloseArchive, FindFirst,
//                                       FindNext, CheckArchive
//   ARC_OWNER_ENTRIES(prefix)           SetOwnerWindowEx, KillOwnerWindowEx
//   ARC_EXTRACTMEM_ENTRY(prefix, kind)  ExtractMem
//   ARC_DEFINE_LIBRARY(prefix, kind)    all of them but "Zip" and ExtractMem
#pragma once
#include "ArchiverApi.h"
#include "core/Core.h"
#include "core/Progress.h"

namespace {
arc::OwnerSlot g_libraryOwner{0};
}

#define ARC_EXPORT extern "C" __attribute__((visibility("default")))

#define ARC_COMMAND_ENTRY(prefix, kind)                                                                        \
    ARC_EXPORT int prefix(ARC_HWND owner, const char* commandLine, char* output, int outputSize)               \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::RunCommand(kind, arc::Entry::Command, owner, commandLine, output, outputSize);             \
    }

#define ARC_ZIP_ENTRY(kind)                                                                                    \
    ARC_EXPORT int Zip(ARC_HWND owner, const char* commandLine, char* output, int outputSize)                  \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::RunCommand(kind, arc::Entry::Zip, owner, commandLine, output, outputSize);                 \
    }

#define ARC_READING_ENTRIES(prefix, kind)                                                                      \
    ARC_EXPORT HARC prefix##OpenArchive(ARC_HWND window, const char* path, int mode)                           \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::OpenArchive(kind, window, path, mode);                                                     \
    }                                                                                                          \
    ARC_EXPORT int prefix##CloseArchive(HARC archive)                                                          \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::CloseArchive(kind, archive);                                                               \
    }                                                                                                          \
    ARC_EXPORT int prefix##FindFirst(HARC archive, const char* wildName, INDIVIDUALINFO* info)                 \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::FindFirst(kind, archive, wildName, info);                                                  \
    }                                                                                                          \
    ARC_EXPORT int prefix##FindNext(HARC archive, INDIVIDUALINFO* info)                                        \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::FindNext(kind, archive, info);                                                             \
    }                                                                                                          \
    ARC_EXPORT int prefix##CheckArchive(const char* path, int mode)                                            \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::CheckArchive(kind, path, mode);                                                            \
    }

#define ARC_OWNER_ENTRIES(prefix)                                                                              \
    ARC_EXPORT int prefix##SetOwnerWindowEx(ARC_HWND window, void* reserved)                                   \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::SetOwnerWindowEx(window, reserved);                                                        \
    }                                                                                                          \
    ARC_EXPORT int prefix##KillOwnerWindowEx(ARC_HWND window)                                                  \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::KillOwnerWindowEx(window);                                                                 \
    }

#define ARC_EXTRACTMEM_ENTRY(prefix, kind)                                                                     \
    ARC_EXPORT int prefix##ExtractMem(ARC_HWND owner, const char* commandLine, void* buffer, int size, void* time, \
                                      void* attributes, int* written)                                          \
    {                                                                                                          \
        arc::OwnerScope ownerScope(g_libraryOwner);                                                            \
        return arc::ExtractMem(kind, owner, commandLine, buffer, size, time, attributes, written);             \
    }

#define ARC_DEFINE_LIBRARY(prefix, kind)                                                                       \
    ARC_COMMAND_ENTRY(prefix, kind)                                                                            \
    ARC_READING_ENTRIES(prefix, kind)                                                                          \
    ARC_OWNER_ENTRIES(prefix)
