// What every archive writer of the libraries is handed: the members of the
// new archive one after another, each with its data, into a file that the
// caller has opened (a temporary file beside the archive, renamed over it
// once the writer has finished, so a failure leaves the old archive as it
// was).
//
// Names are UTF-8, relative, "/" between folders, already checked: never
// absolute, never with a ".." component. The data of a member comes exactly
// once, in order, through Write; a writer that must see it twice (to fall
// back to storing it when it does not shrink) keeps its own copy.
#pragma once
#include "core/MemberSink.h"

#include <string>

namespace arc {

class ArchiveWriter {
public:
    virtual ~ArchiveWriter() = default;

    // False, with the reason in why, when the member cannot be stored (a
    // name the format cannot hold, a type it does not know); the caller
    // then leaves the member out and the command's result is nonzero.
    virtual bool Begin(const Member& member, std::string& why) = 0;
    virtual bool Write(const void* data, size_t size) = 0;
    // False when the member could not be completed (a write error).
    virtual bool End() = 0;
    // Writes what the format has after the members. False on a write error.
    virtual bool Finish() = 0;
    // The last write error, for the log.
    virtual std::string Error() const = 0;
};

} // namespace arc
