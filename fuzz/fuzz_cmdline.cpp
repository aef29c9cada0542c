// The archiver libraries' command-line parser, with response files.
//
// Input: one byte that picks the library kind (value % 7: LHA, ZIP, CAB,
// ARJ, tar, RAR, BGA) and the entry (value / 7 % 3: the command entry, the
// ZIP libraries' "Zip" entry, an ExtractMem entry), then the command line,
// then NUL and the content of the response file "r", then NUL and that of
// "s". The line runs in a folder of its own, so "@r" and "@s" name those
// files (any other "@" item names a file that is not there).
//
// Also run: splitting into items, the extraction settings each library
// draws from its switches, and name matching of every name and exclusion
// against a member path.
//
// Checked: a line without quotes splits into non-empty items without
// blanks, and their join splits the same; a line the parser accepts has a
// known command word, an archive, and a destination that is empty or ends
// in "/"; every switch comes from the line itself, never from a response
// file.
#include "core/CommandLine.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <unistd.h>

namespace {

fuzz::Scratch& scratch()
{
    static fuzz::Scratch s("cmdline"); // removed at exit
    return s;
}

class InFolder {
public:
    explicit InFolder(const std::string& path)
    {
        char buffer[4096];
        previous_ = ::getcwd(buffer, sizeof buffer) ? buffer : "/";
        (void)!::chdir(path.c_str());
    }
    ~InFolder() { (void)!::chdir(previous_.c_str()); }

private:
    std::string previous_;
};

std::string join(const std::vector<std::string>& items)
{
    std::string out;
    for (const auto& item : items)
        out += (out.empty() ? "" : " ") + item;
    return out;
}

} // namespace

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const arc::Kind kinds[] = {arc::Kind::Lha, arc::Kind::Zip, arc::Kind::Cab, arc::Kind::Arj,
                                      arc::Kind::Tar, arc::Kind::Rar, arc::Kind::Bga};
    static const arc::Entry entries[] = {arc::Entry::Command, arc::Entry::Zip, arc::Entry::Mem};
    const arc::Kind kind = kinds[data[0] % 7];
    const arc::Entry entry = entries[data[0] / 7 % 3];
    const auto parts = fuzz::Split(fuzz::AsText(data + 1, size - 1), std::string_view("\0", 1), 3);
    const std::string line(parts[0]);

    InFolder here(scratch().path());
    fuzz::WriteFile("r", parts.size() > 1 ? parts[1] : std::string_view());
    fuzz::WriteFile("s", parts.size() > 2 ? parts[2] : std::string_view());

    const std::vector<std::string> items = arc::SplitItems(line);
    if (line.find('"') == std::string::npos) {
        for (const auto& item : items)
            FUZZ_CHECK(!item.empty() && item.find_first_of(" \t\r\n") == std::string::npos, "item [" + item + "]");
        FUZZ_CHECK(arc::SplitItems(join(items)) == items, line);
    }

    const arc::Command cmd = arc::ParseCommandLine(line, kind, entry);
    if (cmd.error != 0)
        return 0;
    FUZZ_CHECK(arc::KnownWord(kind, entry, cmd.word), "word " + cmd.word);
    FUZZ_CHECK(!cmd.archive.empty(), line);
    FUZZ_CHECK(cmd.destination.empty() || cmd.destination.back() == '/', "destination " + cmd.destination);
    for (const auto& sw : cmd.switches)
        FUZZ_CHECK(std::find(items.begin(), items.end(), sw) != items.end(), "switch " + sw + " not on the line");

    const bool writes = arc::Writes(cmd);
    (void)writes;
    const arc::ExtractSettings settings = arc::SettingsFor(cmd, kind);
    const std::string member = "dir/sub/file.txt";
    for (const auto& name : cmd.names) {
        (void)arc::NameMatches(name, member, kind == arc::Kind::Zip);
        (void)arc::NameMatches(name, cmd.archive, kind != arc::Kind::Zip);
    }
    for (const auto& pattern : settings.excludes)
        (void)arc::NameMatches(pattern, member, false);
    return 0;
}
