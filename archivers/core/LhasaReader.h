// LHA methods libarchive does not decode (-lh1- to -lh4-, -lzs-, -lz5-,
// -pm0- to -pm2-, ...), read with liblhasa. An archive holding any such
// member, or one whose headers libarchive does not accept (libarchive
// gives up on level-0 headers whose CP932 names it cannot convert), is
// read entirely through liblhasa; the others go to libarchive.
// Every member's data is checked against its CRC-16.
#pragma once
#include "core/Extraction.h"

#include <string>

namespace arc {

bool LhasaNeeded(const std::string& path);
void ExtractWithLhasa(const std::string& path, Extraction& job);
bool LhasaRecognises(const std::string& path, int depth);

} // namespace arc
