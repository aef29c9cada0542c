// LHA archives read with liblhasa, the second decoder of the LHA library:
// it decodes the methods libarchive lacks (-lh1- to -lh4-, -lzs-, -lz5-,
// -pm0- to -pm2-, ...) and headers libarchive does not accept (level-0
// headers with CP932 names, for one). Every member's data is checked
// against its CRC-16; liblhasa stops silently at a header it cannot read,
// so what follows the last member read is looked at (LhaTail.h).
#pragma once
#include "core/MemberSink.h"

#include <string>

namespace arc {

void ReadWithLhasa(const std::string& path, MemberSink& sink);
// The first header reads as LHA (at the start or behind a program stub).
bool LhasaRecognises(const std::string& path);

} // namespace arc
