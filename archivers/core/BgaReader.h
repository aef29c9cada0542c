// BGA archives (GZA and BZA), read by this library itself.
//
// Members follow one another, each with a 28-byte little-endian header:
// i32 checksum (the sum of header bytes 4 to 27 and of the name bytes, each
// taken as a signed char), method "GZIP" or "BZ2\0", u32 compressed size,
// u32 original size, u16 DOS date, u16 DOS time, u8 attributes (0x10 a
// folder), u8 header type, u16 arc type (1 compressed, 2 stored, 0
// compressed unless both sizes are equal and the name has an archive
// extension), u16 folder-name length, u16 file-name length; then the folder
// and file names (CP932, no terminator) and the data: one gzip member
// (GZA) or one bzip2 stream (BZA). The gzip and bzip2 streams carry their
// own check values, which are verified; stored data has none.
// An arc type 0 member of equal sizes whose data does not start like the
// method's stream is taken as stored as well. A self-extracting file is
// searched for its first header in its first 4 MiB
// (behind a stub program of ours: from where the program ends).
#pragma once
#include "core/MemberSink.h"

#include <string>

namespace arc {

void ReadBga(const std::string& path, MemberSink& sink);
// The first header is found (at the start or behind a program stub).
bool BgaRecognises(const std::string& path);

} // namespace arc
