// Where an LHA archive ends. Both LHA decoders stop at a header they
// cannot read; whether that is the end of the archive or damage is decided
// by what lies where the last member read ends.
#pragma once
#include <cstdint>
#include <string>

namespace arc {

// Whether an LHA archive may end where its last member read ends, at end:
// the file ends there, or goes on with the end mark (a 0 byte) or with data
// that is no LHA header (ignored, as LHA tools do: not laid out as one, a
// level-0/1 header whose length or checksum does not match, a level-3 one
// whose length is out of all proportion). A header
// that is cut short by the end of the file, or whole and not read, means
// damage. A file with a Windows program stub ("MZ", self-extracting) may
// hold anything after the archive; ours (Payload.h) end with the archive.
bool LhaEndsAt(const std::string& path, uint64_t end);
// Where the member whose header starts at offset ends (its header and its
// data), from the header's own length fields; -1 when no header is there.
int64_t LhaMemberEnd(const std::string& path, uint64_t offset);

} // namespace arc
