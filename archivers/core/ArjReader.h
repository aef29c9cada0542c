// ARJ archives, read by this library itself (methods 0 to 4).
//
// Layout, from the public description of the format: a main header, then
// one header per member followed by its data, then an end marker (a header
// of size 0). Each header is 0x60 0xEA, a 16-bit size, the basic header
// (at most 2600 bytes) with a CRC-32, then extended headers (size, data,
// CRC-32) until a size of 0. Method 0 is stored; methods 1 to 3 are LZ77 with
// Huffman-coded blocks (26624-byte window); method 4 is LZ77 with
// fixed-width codes. Encrypted members ("garbled") are not read.
//
// A self-extracting file is searched for its main header in its first
// 4 MiB (behind a stub program of ours: from where the program ends).
// Names made on MS-DOS/Windows hosts have "\" turned into "/" and are
// read as CP932 when they are not UTF-8. Every member's data is checked
// against its CRC-32.
#pragma once
#include "core/MemberSink.h"

#include <string>

namespace arc {

void ReadArj(const std::string& path, MemberSink& sink);
// The first header is found (at the start or behind a program stub).
bool ArjRecognises(const std::string& path);

} // namespace arc
