// Two decoders for one archive.
//
// ReadTwice walks the archive with the first reader, passing everything on
// to the sink, except that a member the first reader cannot decode (bad
// data, bad check value, a method it lacks) is abandoned instead of failed,
// and an archive-level failure (the reader gave up at some header, or did
// not recognise the file) is held back. When anything was held back, the
// second reader walks the archive too, and only the members the first one
// did not finish reach the sink: the abandoned ones and, when the first
// reader gave up, every member it never came to. So an archive is read
// completely when either decoder reads each of its members, and a failure
// stays only where neither does.
//
// Members are matched between the two walks by name and by the count of
// earlier members of the same name; a reader may offer a second reading of
// a stored name (Member::altName) when it cannot know the stored bytes. The
// sink sees the first reader's name, so the output does not depend on which
// decoder ran.
//
// Some decoders (solid RAR) must decode every member to reach the later
// ones; with decodeAll the second walk decodes the members it does not pass
// on, and throws their data away.
#pragma once
#include "core/MemberSink.h"

#include <functional>
#include <string>

namespace arc {

using ReadFunction = std::function<void(const std::string& path, MemberSink& sink)>;

void ReadTwice(const std::string& path, MemberSink& sink, const ReadFunction& first, const ReadFunction& second,
               bool decodeAll);

} // namespace arc
