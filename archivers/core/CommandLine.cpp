#include "core/CommandLine.h"

#include "ArchiverApi.h"

#include <cctype>
#include <fnmatch.h>
#include <fstream>

namespace arc {

std::vector<std::string> SplitItems(const std::string& text)
{
    std::vector<std::string> items;
    std::string current;
    bool inItem = false, inQuotes = false;
    for (char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
            inItem = true;
        } else if (!inQuotes && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
            if (inItem)
                items.push_back(current);
            current.clear();
            inItem = false;
        } else {
            current += c;
            inItem = true;
        }
    }
    if (inItem)
        items.push_back(current);
    return items;
}

namespace {

bool ReadResponseFile(const std::string& path, std::vector<std::string>& names)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        for (auto& item : SplitItems(line))
            names.push_back(item);
    }
    return true;
}

std::string Lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

bool KnownWord(Kind kind, Entry entry, const std::string& word)
{
    if (entry == Entry::Mem)
        return word == "mem";
    if (entry == Entry::Zip)
        return word == "a" || word == "d" || word == "f" || word == "ru" || word == "A";
    std::vector<std::string> words = {"x", "e"};
    switch (kind) {
    case Kind::Lha:
        words.insert(words.end(), {"u", "f", "d", "s"});
        break;
    case Kind::Cab:
        words.insert(words.end(), {"a", "f"});
        break;
    case Kind::Tar:
        words = {"x", "c"};
        break;
    case Kind::Bga:
        words.insert(words.end(), {"a", "d", "s"});
        break;
    default:
        break;
    }
    for (auto& w : words)
        if (w == word)
            return true;
    return false;
}

bool Writes(const Command& command) { return command.word != "x" && command.word != "e" && command.word != "mem"; }

Command ParseCommandLine(const std::string& line, Kind kind, Entry entryKind)
{
    Command cmd;
    struct Entry {
        std::string text;
        bool name; // from a response file: never a switch
    };
    std::vector<Entry> entries;
    for (auto& item : SplitItems(line)) {
        if (item.size() > 1 && item[0] == '@') {
            std::vector<std::string> names;
            if (!ReadResponseFile(item.substr(1), names)) {
                cmd.error = ARCERR_RESPONSE;
                cmd.message = "cannot read the response file " + item.substr(1);
                return cmd;
            }
            for (auto& n : names)
                entries.push_back({n, true});
        } else {
            entries.push_back({item, false});
        }
    }
    if (entries.empty()) {
        cmd.error = ARCERR_COMMAND;
        cmd.message = "empty command line";
        return cmd;
    }
    // The command word, which the ExtractMem entries do without, and which
    // the Zip entry spells as a switch or leaves out.
    size_t first = 1;
    if (entryKind == arc::Entry::Mem) {
        cmd.word = "mem";
        first = 0;
    } else if (entryKind == arc::Entry::Zip) {
        const std::string& t = entries[0].name ? std::string() : entries[0].text;
        if (t == "-d" || t == "-f" || t == "-ru" || t == "-A") {
            cmd.word = t.substr(1);
        } else {
            cmd.word = "a";
            first = 0;
        }
    } else {
        std::string word = entries[0].text;
        while (!word.empty() && word[0] == '-')
            word.erase(0, 1);
        cmd.word = Lower(word);
    }
    if (!KnownWord(kind, entryKind, cmd.word)) {
        cmd.error = ARCERR_COMMAND;
        cmd.message = "unsupported command " + entries[0].text;
        return cmd;
    }
    // A deletion has no folder: every item after the archive is a name.
    const bool folderless = cmd.word == "d" || cmd.word == "mem";

    bool switchesEnded = false;
    bool haveArchive = false, haveDestination = false;
    auto positional = [&](const std::string& text) {
        if (!haveArchive) {
            cmd.archive = text;
            haveArchive = true;
        } else if (!folderless && !haveDestination && !text.empty() && text.back() == '/') {
            cmd.destination = text;
            haveDestination = true;
        } else {
            cmd.names.push_back(text);
        }
    };
    for (size_t i = first; i < entries.size(); ++i) {
        const std::string& t = entries[i].text;
        if (entries[i].name || switchesEnded || t.empty() || t[0] != '-') {
            if (!t.empty())
                positional(t);
            continue;
        }
        if (t == "--") {
            switchesEnded = true;
            continue;
        }
        if (kind == Kind::Tar && (t == "-f" || t == "-o") && i + 1 < entries.size()) {
            const std::string& value = entries[++i].text;
            if (t == "-f") {
                cmd.archive = value;
                haveArchive = true;
            } else {
                cmd.destination = value;
                if (!value.empty() && value.back() != '/')
                    cmd.destination += '/';
                haveDestination = true;
            }
            continue;
        }
        if (kind == Kind::Tar && t.size() > 2 && t[1] == 'f') {
            cmd.archive = t.substr(2);
            haveArchive = true;
            continue;
        }
        if (kind == Kind::Tar && t.size() > 2 && t[1] == 'o') {
            cmd.destination = t.substr(2);
            if (cmd.destination.back() != '/')
                cmd.destination += '/';
            haveDestination = true;
            continue;
        }
        cmd.switches.push_back(t);
    }
    if (!haveArchive || cmd.archive.empty()) {
        cmd.error = ARCERR_COMMAND;
        cmd.message = "no archive named";
    }
    return cmd;
}

bool NameMatches(const std::string& pattern, const std::string& path, bool escapeBrackets)
{
    std::string p;
    for (char c : pattern) {
        if (c == '[' && escapeBrackets)
            p += "[[]";
        else
            p += c;
    }
    int flags = FNM_CASEFOLD | FNM_NOESCAPE;
    if (fnmatch(p.c_str(), path.c_str(), flags) == 0)
        return true;
    // A folder name selects everything below it.
    for (size_t i = path.find('/'); i != std::string::npos; i = path.find('/', i + 1))
        if (fnmatch(p.c_str(), path.substr(0, i).c_str(), flags) == 0)
            return true;
    // A pattern without folders is matched against the bare file name.
    if (pattern.find('/') == std::string::npos) {
        size_t slash = path.rfind('/');
        if (slash != std::string::npos && fnmatch(p.c_str(), path.c_str() + slash + 1, flags) == 0)
            return true;
    }
    return false;
}

ExtractSettings SettingsFor(const Command& command, Kind kind)
{
    ExtractSettings s;
    switch (kind) {
    case Kind::Lha:
    case Kind::Arj:
        s.keepFolders = command.word == "x";
        for (auto& sw : command.switches) {
            if (sw.size() >= 2 && sw[1] == 'x' && (sw.size() == 2 || std::isdigit(static_cast<unsigned char>(sw[2]))))
                s.keepFolders = sw.size() == 2 || sw[2] != '0';
            else if (sw.size() > 3 && sw.compare(0, 3, "-jx") == 0)
                s.excludes.push_back(sw.substr(3));
        }
        break;
    case Kind::Zip:
    case Kind::Cab:
    case Kind::Bga:
        s.keepFolders = command.word == "x";
        for (auto& sw : command.switches)
            if (sw == "-j")
                s.keepFolders = false;
        break;
    case Kind::Tar:
        s.keepFolders = command.word == "x";
        for (auto& sw : command.switches) {
            static const std::string key = "--use-directory=";
            if (sw.compare(0, key.size(), key) == 0)
                s.keepFolders = sw.substr(key.size()) != "0";
        }
        break;
    case Kind::Rar:
        s.keepFolders = command.word == "x";
        break;
    }
    return s;
}

} // namespace arc
