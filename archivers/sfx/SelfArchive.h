// The archive a self-extracting file carries: the stub program that runs is
// the file itself, and the archive lies after the program (Payload.h), or,
// for ZIP, is read from the file's end as every ZIP reader reads it.
//
// Extraction uses the libraries' own reader and writer (Extraction.h), so a
// stub writes nothing outside its destination, leaves no half-written
// member, and keeps what it extracted before a damage it meets.
#pragma once
#include "core/CommandLine.h"

#include <ostream>
#include <string>
#include <vector>

namespace arc {

class SelfArchive {
public:
    // Finds the carried archive among the kinds the stub reads; Found()
    // false (and why set) when there is none. The program's file is
    // /proc/self/exe, or, where /proc is not there, what argv0 names (found
    // on PATH when it has no "/").
    SelfArchive(const std::vector<Kind>& kinds, const char* argv0);

    bool Found() const { return found_; }
    const std::string& Why() const { return why_; }
    // The path of the file (the running program).
    const std::string& Path() const { return path_; }

    // 0, or the libraries' error number; log receives the log text and
    // extracted the count of members written.
    int Extract(const std::string& destination, std::string& log, int& extracted) const;
    // One line per member: size, time, name.
    int List(std::ostream& out) const;
    // Decodes every member and checks it; 0 when every one is right.
    int Test(std::string& log) const;

    // The line of a log that says what went wrong (the first error).
    static std::string FirstError(const std::string& log, int result);

private:
    std::string path_;
    Kind kind_ = Kind::Zip;
    bool found_ = false;
    std::string why_;
};

} // namespace arc
