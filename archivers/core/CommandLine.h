// Command lines of the archiver libraries.
//
// A command line is a row of items separated by blanks. Double quotes group
// text with blanks into one item and are removed; an item may mix quoted and
// unquoted parts (-w"dir" is the item -wdir). The first item is the command
// word ("x" or "e", with or without a leading "-"). Every later item that
// starts with "-" is a switch, quoted or not; a lone "--" ends the switches.
// An item "@file" names a response file whose lines each hold one item
// (quoted or not); those items are always names, never switches.
// Of the remaining items the first is the archive, the next one ending in "/"
// is the destination folder (only one), and the rest are member names or
// wildcard patterns; no names means every member.
//
// tar32.dll takes values as separate items: "-f" ARCHIVE and "-o" FOLDER
// (also written attached, -fARCHIVE).
//
// What each library makes of its switches (ExtractSettings): the switches
// that change what lands on disk are honoured, the others (dialogs, messages,
// attribute and time-stamp checks) are accepted and ignored, since the
// libraries show no dialogs and always replace existing files.
//   UNLHA32/UNARJ32J: "x" keeps stored folders, "e" drops them; -x0 drops,
//                     -x1/-x2 keep; -jxPATTERN excludes matching members.
//   UNZIP32, CAB32:   -j drops stored folders.
//   tar32:            --use-directory=0 drops stored folders, =1 keeps.
//   UNRAR32:          "-x" keeps, "-e" drops.
//   BGA32:            -j drops stored folders.
#pragma once
#include <string>
#include <vector>

namespace arc {

enum class Kind { Lha, Zip, Cab, Arj, Tar, Rar, Bga };

// Which entry a command line came through: the library's command entry, the
// "Zip" entry of the ZIP libraries (a line without a command word, whose
// first item "-d", "-f", "-ru" or "-A" names the deletion, freshening, the
// LMZIP32 update or the self-extracting adjustment, and which otherwise
// adds), or an ExtractMem entry (no command word at all).
enum class Entry { Command, Zip, Mem };

// The command words each kind's command entry knows:
//   LHA  x e (extract) u (add, replacing older members) f (freshen) d (delete) s (self-extracting)
//   ARJ  x e                    ZIP (UnZip)  x e
//   CAB  x e a (create, add) f (self-extracting)
//   tar  x c (create)           RAR  x e
//   BGA  x e a (add) d (delete) s (self-extracting)
// Through the Zip entry the word is "a", "d", "f", "ru" or "A"; through an
// ExtractMem entry it is "mem".
bool KnownWord(Kind kind, Entry entry, const std::string& word);

struct Command {
    std::string word;                  // lower case, without "-"
    std::vector<std::string> switches; // as written, e.g. "-x1"
    std::string archive;
    std::string destination;           // ends in "/"; empty: current folder
    std::vector<std::string> names;
    int error = 0;                     // ARCERR_* when the line is unusable
    std::string message;
};

// Splits a text into items (quotes removed).
std::vector<std::string> SplitItems(const std::string& text);

Command ParseCommandLine(const std::string& line, Kind kind, Entry entry = Entry::Command);
// Whether the command writes an archive (and its folder is the base folder
// of the member names) rather than reading one.
bool Writes(const Command& command);

struct ExtractSettings {
    bool keepFolders = true;
    std::vector<std::string> excludes;
};

ExtractSettings SettingsFor(const Command& command, Kind kind);

// Whether a member name given on a command line (a wildcard pattern, case
// ignored) names the member at path: the path itself, a folder above it,
// or, for a pattern without folders, its bare file name. ZIP names keep
// "[" as a bracket expression; the other kinds take it literally.
bool NameMatches(const std::string& pattern, const std::string& path, bool escapeBrackets);

} // namespace arc
