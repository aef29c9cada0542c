// File names as a Windows program expects them on a case-sensitive system.
//
// Names the program composes itself ("DL.ini", "Dskin", archiver library
// names, ...) are looked up exactly first and, when that fails, by a match
// that ignores case in the same folder. New files keep the program's own
// spelling. The path delimiter is "/".
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// dir may be empty (current directory) or end in "/" or not.
// Returns dir + the name as it exists on disk: the exact spelling when that
// exists, else the first entry of dir whose name equals `name` ignoring
// case, else dir + name unchanged (for creating it).
std::string ResolveName(const std::string& dir, const std::string& name);
// Resolves every component of a relative path below dir the same way
// ("Dskin/back.jpg" finds "DSkin/Back.JPG").
std::string ResolvePath(const std::string& dir, const std::string& relative);

bool FileExists(const std::string& path);      // a regular file (or link to one)
bool DirectoryExists(const std::string& path); // a folder (or link to one)
bool DeleteFile(const std::string& path);
// Size in bytes, -1 when the file does not exist.
std::int64_t FileSizeOf(const std::string& path);
// Opens a file for writing ("wb", or "ab" when append) without following a
// link at its own name: a link planted there fails (errno ELOOP) instead of
// leading the write elsewhere. Null on failure, with errno set.
std::FILE* OpenForWriting(const std::string& path, bool append);
// Replaces the file at path by one holding bytes, whole: they are written
// to path + ".new" (made anew, never through a link at that name), flushed
// to the disk and renamed over path, so that a crash leaves the old file or
// the new one, never a part. False on failure, with errno set; the
// temporary is then gone.
bool ReplaceFileWith(const std::string& path, std::string_view bytes, unsigned mode);
// The process's current directory, without a trailing "/" (except for "/").
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& path);

// SearchPathA with no path of its own: looks for fileName (extension
// appended when it has none and extension is not null) in the program's own
// folder (PrivateFolder), the current directory and the folders of PATH, in
// this order; in the first two the name is matched exactly first and then
// ignoring case. Copies the full path found into buffer (at most
// bufferLength - 1 bytes and a NUL) and returns its length, or the length
// it needs with the NUL when the buffer is too small; 0 when nothing is
// found. filePart, when not null, points at the file name within buffer.
unsigned long SearchPathA(const char* path, const char* fileName, const char* extension, unsigned long bufferLength,
                          char* buffer, char** filePart);
