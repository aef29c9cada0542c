// The library commands that make self-extracting files: LHA "s" (for LHA
// and for the ARJ archives the ARJ back-end hands the LHA library), CAB
// "-f", BGA "s"; and "-A" of the ZIP libraries' "Zip" entry.
//
// A self-extracting file is one of this system's stub programs (built next
// to the libraries: "lhasfx.dat", "cabsfx.dat", "bgasfx.dat") with the
// archive after it, written as ARCHIVE's name with ".exe" in the command's
// folder (or beside the archive), replacing an existing file only when it is
// complete, executable (0755 less the umask). The stub is looked for in the
// library's own folder, the current directory, then the folders of PATH.
//
// "-A FILE" makes the offsets of a ZIP archive that has a program in front
// of it count from the start of the file (as Info-ZIP's zip -A does), so
// that every ZIP reader reads it in place; ZIP64 records included.
#pragma once
#include "core/CommandLine.h"

#include <string>

namespace arc {

int MakeSelfExtracting(Kind kind, const Command& command, std::string& log);
int AdjustZipOffsets(const std::string& path, std::string& log);
// The stub a library command uses, "" when none is found.
std::string FindStub(const std::string& name);

} // namespace arc
