// Defines a library's exported entries: the command entry (the prefix
// alone), OpenArchive, CloseArchive, CheckArchive, SetOwnerWindowEx and
// KillOwnerWindowEx, all with C linkage. Everything else stays hidden.
#pragma once
#include "ArchiverApi.h"
#include "core/Core.h"

#define ARC_EXPORT extern "C" __attribute__((visibility("default")))

#define ARC_DEFINE_LIBRARY(prefix, kind)                                                                       \
    ARC_EXPORT int prefix(ARC_HWND owner, const char* commandLine, char* output, int outputSize)               \
    {                                                                                                          \
        return arc::RunCommand(kind, owner, commandLine, output, outputSize);                                  \
    }                                                                                                          \
    ARC_EXPORT HARC prefix##OpenArchive(ARC_HWND window, const char* path, int mode)                           \
    {                                                                                                          \
        return arc::OpenArchive(kind, window, path, mode);                                                     \
    }                                                                                                          \
    ARC_EXPORT int prefix##CloseArchive(HARC archive) { return arc::CloseArchive(kind, archive); }             \
    ARC_EXPORT int prefix##CheckArchive(const char* path, int mode) { return arc::CheckArchive(kind, path, mode); } \
    ARC_EXPORT int prefix##SetOwnerWindowEx(ARC_HWND window, void* reserved)                                   \
    {                                                                                                          \
        return arc::SetOwnerWindowEx(window, reserved);                                                        \
    }                                                                                                          \
    ARC_EXPORT int prefix##KillOwnerWindowEx(ARC_HWND window) { return arc::KillOwnerWindowEx(window); }
