// File names as a Windows program expects them on a case-sensitive system.
//
// Names the program composes itself ("DL.ini", "Dskin", archiver library
// names, ...) are looked up exactly first and, when that fails, by a match
// that ignores case in the same folder. New files keep the program's own
// spelling. The path delimiter is "/".
#pragma once
#include <cstdint>
#include <string>

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
// The process's current directory, without a trailing "/" (except for "/").
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& path);
