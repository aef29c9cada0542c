// RAR 1.5 to 4 and ZIP archives read with libunarr, the second decoder of
// the RAR and ZIP libraries: it decodes what libarchive 3.6 gets wrong or
// lacks (RAR files made of several LZSS blocks or switching between PPMd
// and LZSS, ZIP's Deflate64). libunarr checks every member's CRC-32 itself
// and gives no reason for a failure, so every failure counts as damage.
//
// libunarr passes over folder entries and hands names over as UTF-8, having
// read names not flagged as UTF-8 as code page 437; such names are turned
// back into their stored bytes and read as this library reads them (CP932),
// and the UTF-8 reading is offered as the second reading (Member::altName).
// libunarr reports what it skips on standard error; it has no switch for it.
#pragma once
#include "core/CommandLine.h"
#include "core/MemberSink.h"

#include <string>

namespace arc {

// kind is Kind::Rar or Kind::Zip.
void ReadWithUnarr(Kind kind, const std::string& path, MemberSink& sink);
bool UnarrRecognises(Kind kind, const std::string& path);

} // namespace arc
