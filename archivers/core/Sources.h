// The files a command that writes an archive takes: the names of its file
// list, relative to its folder (the base folder), found below that folder.
//
// A name is a path below the base folder, with "*", "?" and "[...]" in any
// part (matched against the names of that folder, case ignored); no names
// means everything in the base folder. Names that are absolute or have a
// ".." component are refused. A folder that is named (or matched) comes
// with everything below it when the command recurses; otherwise only the
// folder itself is taken.
//
// Nothing is reached through a link: every folder on the way is opened
// below the base folder without following links. A symbolic link found is
// taken as a link where the format stores links; where it does not (CAB,
// BGA), a link whose target lies inside the base folder stands for that
// target's file, and any other is refused.
#pragma once
#include "core/MemberSink.h"

#include <string>
#include <vector>

namespace arc {

struct SourceRules {
    bool recurse = true;     // named folders bring their content
    bool folders = true;     // folders are members of their own
    bool links = true;       // the format stores symbolic links
    std::vector<std::string> excludes; // patterns of names left out
};

struct Source {
    Member member;    // the name to store, type, size, time, mode, link target
    std::string path; // where the data is, relative to the base folder
};

struct SourceList {
    std::vector<Source> sources;
    std::vector<std::string> refused; // names refused, with the reason
    bool matchedAll = true;           // every name found something
};

SourceList CollectSources(const std::string& base, const std::vector<std::string>& names, const SourceRules& rules);

// Opens a source file found by CollectSources for reading, walking below
// the base folder without following links (a link allowed to stand for its
// target is followed at the last step only, as it was checked). -1 on
// failure, errno set.
int OpenSource(const std::string& base, const Source& source);

} // namespace arc
