// CAB archives read with libmspack, the library behind cabextract: every
// compression (none, MSZIP, Quantum, LZX with windows of 2^15 to 2^21),
// reserved header, folder and data areas, and cabinets inside other files
// (self-extracting programs), found by libmspack's search as cabextract
// finds them; a file holding several cabinets yields the members of each.
//
// A cabinet of a multi-part set is joined with the parts it names, when
// they lie beside it (the name is looked up ignoring case, as on Windows),
// so members that span parts come out whole; a part that is missing leaves
// the members that need it failed.
//
// Names flagged as UTF-8 are taken as they are, the others are read as
// CP932, as Japanese Windows writes them; "\" separates folders. libmspack
// reads and writes through this library's own file functions, so the data
// goes straight to the sink.
#pragma once
#include "core/MemberSink.h"

#include <string>

namespace arc {

void ReadWithMspack(const std::string& path, MemberSink& sink);
// A cabinet is found in the file.
bool MspackRecognises(const std::string& path);

} // namespace arc
