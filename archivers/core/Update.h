// The commands that write an archive: create, add, update, freshen, delete.
//
// The new archive is written under a temporary name beside the old one and
// renamed over it only when every member is in, so a failure (or an abort
// from the owner window) leaves the old archive as it was; the new file
// keeps the old one's permissions. An existing file that does not read as an
// archive of the kind is never replaced.
//
// The members of the old archive are decoded by the library's readers (with
// their second decoders) and written anew, in their order; a member that a
// new file replaces keeps its place. What each command does:
//
//   add      every named file goes in, replacing a member of the same name
//   update   new files go in, and files newer than the member they replace
//   freshen  only files newer than the member of the same name go in
//   delete   the members the names match go out
//   create   a new archive of the named files, whatever was there
//
//   LHA   u update, f freshen, d delete; -x0 stores no folders, -z stores
//         without compression, -jxPATTERN leaves files out
//   ZIP   (the Zip entry) add, or update with -u; -f freshen; -d delete;
//         -ru (LMZIP32) update with recursion; -r recurses into folders,
//         -D stores no folder members, -j no folder names, -0 to -9 the level
//   CAB   a add                  tar  c create; -z[N] gzip, -B[N] bzip2
//   BGA   a add (GZA, or BZA for an archive named .bza), d delete; -lN level
// LHA, CAB, tar and BGA take named folders with everything below them; ZIP
// does so with -r.
//
// Each member goes in between the "wm_arcextract" messages begin and end
// (ARCEXTRACT_BEGIN, ARCEXTRACT_END); the reply 1 aborts.
#pragma once
#include "core/CommandLine.h"

#include <string>

namespace arc {

// Runs a command that writes (Writes(command) holds); returns its result and
// appends to the log.
int RunUpdate(Kind kind, const Command& command, std::string& log);

} // namespace arc
