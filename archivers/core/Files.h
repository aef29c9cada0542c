// Small file helpers of the libraries' writers.
#pragma once
#include <cstddef>
#include <string>

namespace arc {

// Writes all of data, going on after interruptions; false on an error
// (errno set).
bool WriteAll(int fd, const void* data, size_t size);
// An unnamed scratch file for reading and writing, in folder when it can
// hold one (so that copies stay on the archive's disk), else in $TMPDIR or
// /tmp; -1 when there is none.
int ScratchFile(const std::string& folder);
// The first file of that name in the folders of PATH that test accepts
// (a regular file, an executable one, ...), "" when none.
std::string FindOnPath(const std::string& name, bool (*test)(const std::string& path));

} // namespace arc
