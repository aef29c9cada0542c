// Reading an archive without extracting: the members for the listing
// entries (OpenArchive, FindFirst, FindNext) and one member into memory
// (the ExtractMem entries).
//
// The readers do not all tell a member's stored size and check value
// (libarchive keeps them to itself); for ZIP they are taken from the
// central directory, for RAR 1.5 to 4 from the file headers.
#pragma once
#include "ArchiverApi.h"
#include "core/CommandLine.h"
#include "core/MemberSink.h"

#include <string>
#include <vector>

namespace arc {

// The members of an archive, in order; error is the walk's result.
struct Listing {
    std::vector<Member> members;
    int error = 0;
};
Listing ListArchive(Kind kind, const std::string& path);

// Fills the listing record of a member.
void FillRecord(const Member& member, INDIVIDUALINFO& info);

// One member, by name or wildcard (the first that matches), into a buffer:
// 0 when it fit whole, ARCERR_SMALL_BUFFER when only its beginning did,
// ARCERR_NO_FILES when no member matches, another error when it cannot be
// decoded. written receives the bytes stored; member its header.
int ExtractToMemory(Kind kind, const std::string& path, const std::string& name, char* buffer, size_t size,
                    size_t& written, Member& member);

} // namespace arc
