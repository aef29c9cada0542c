// Which decoders read which kind of archive.
//
//   LHA   libarchive, then liblhasa for what libarchive cannot decode
//   ZIP   libarchive, then libunarr (Deflate64 and what else it lacks)
//   RAR   libarchive (RAR 1.5 to 5), then libunarr for RAR 1.5 to 4
//   CAB   libmspack
//   tar   libarchive (tar, gzip, bzip2, compress)
//   ARJ   this library's own reader
//   BGA   this library's own reader
//
// The second decoder reads only what the first could not (SecondChance.h);
// RAR's second decoder decodes every member, since solid archives cannot
// be entered in the middle. Built with ARC_NO_UNARR (the self-extracting
// stubs, which carry their decoders with them and libunarr has no static
// form), ZIP and RAR are read by libarchive alone.
#pragma once
#include "core/CommandLine.h"
#include "core/MemberSink.h"

#include <string>

namespace arc {

// Walks the archive into the sink, with the output allowance of its size.
void ReadArchive(Kind kind, const std::string& path, MemberSink& sink);
// The first header reads as an archive of the kind.
bool Recognises(Kind kind, const std::string& path);

} // namespace arc
