// fetchlet-publish [--keep-publisher-layout] FOLDER OUT
//
// Turns a publisher's prepared working folder (its "DL.ini" and "DSkin") into
// the folder OUT and the archive OUT.tar.gz that an end user unpacks and
// starts on any Debian 12 desktop with nothing installed:
//
//   OUT/start-fetchlet      the launcher: makes OUT the working folder and
//                           starts the program, wherever OUT was unpacked; it
//                           tells the end user in a window when the copy
//                           cannot start (a file missing, a library missing)
//   OUT/fetchlet            the program this tool is installed with
//   OUT/UNLHA32.DLL ...     its archiver libraries and their shared core
//                           (every file of its private folder but the
//                           self-extracting stubs), beside it as on Windows
//   OUT/lib/                every shared library those need that is not
//                           part of the desktop baseline (below): Qt 6, the
//                           xcb extension and utility libraries,
//                           xkbcommon-x11, libOpenGL, ...
//   OUT/plugins/, qt.conf   Qt's xcb platform plugin and the image format
//                           plugin the program reads icons with; qt.conf
//                           makes Qt look for plugins there
//   OUT/fonts/              IPA P Gothic (with its licence), the one font
//                           the windows use, which the program registers
//   OUT/translations/       Qt's translations of its standard dialogs
//                           (qtbase_*.qm), which the program loads for the
//                           user's locale, for systems without them
//   OUT/fetchlet.files      the parts the launcher checks before it starts
//   OUT/DL.ini, OUT/DSkin/  the publisher's settings and the skin and icon
//                           pictures they name
//   OUT/DL.mirrors          the further addresses, when the folder has
//                           them; a line that is no http or https address
//                           stops the copy (exit 1)
//   OUT/DL.pub, DL.sha256   the publisher's signature key and SHA-256 pin,
//                           when the folder has them; a key that is no
//                           minisign public key, or a pin the program would
//                           refuse, stops the copy (exit 1). A copy with
//                           neither, for a plain http address, is made with a
//                           warning: anyone on the path could hand the end
//                           user another file
//   OUT/run-fetchlet        the launcher again, for a terminal
//   OUT/Fetchlet.desktop    the launcher for a double click in a file manager
//                           that does not start executables: it finds
//                           start-fetchlet through its own location (%k)
//
// Every ELF file of the copy is stripped (--strip-unneeded) and finds the
// libraries of OUT/lib through a run path relative to itself ($ORIGIN, as
// DT_RPATH, which the dynamic loader searches before LD_LIBRARY_PATH), so
// neither the install nor the end user's environment is used.
//
// The desktop baseline: the packages every Debian system has (priority
// "required", Essential) with everything they depend on (apt-cache depends
// --recurse over the installed packages), those of packaging/desktop-baseline
// (Xlib, xcb and its render extension, xkbcommon, fontconfig, freetype, GL,
// GLib, D-Bus, libxml2, ICU, the trust store with openssl: what every X
// desktop has), and the packages of what their files are linked against
// (ldd). Only that: what the listed packages merely depend on is not sure
// (GL depends on Mesa's drivers, which a desktop may have in another form,
// and with them on xcb's extension libraries). The dynamic loader's view
// (ldd) of the program, the launcher, the private files and the plugins
// decides what is bundled: every library outside the baseline, or of no
// package.
//
// Extraction ticked in "DL.ini" for an address whose name is of no archive
// kind the archive component knows (or an ".exe", which is extracted only
// when it is a self-extracting archive) is warned about on standard error;
// the copy is made all the same.
//
// Only what the end user needs goes in: never "DL.dat" (a test download's
// header capture), "DL2.ini", part files or the downloaded file itself,
// wherever they lie. Publisher layout: the folder is in the publisher layout
// (the settings window opens with F1) only when "マニュアル.html", "Data" and
// "DSkin" are all there. The copy leaves out "マニュアル.html" and "Data", so
// the end user's copy is not in that layout, and "DSkin" holds only the
// pictures the settings name. --keep-publisher-layout copies the two others
// (those that exist), the whole "DSkin" and the self-extracting stubs as
// well, so the copy opens the settings window and can make everything the
// publisher's folder can.
//
// OUT must not exist yet; the copy is made in a temporary folder beside it
// and renamed when complete, and OUT.tar.gz (replaced if it exists) the same
// way, so a failure leaves neither half made. Names in FOLDER are found
// ignoring case, as the program finds them; the copy spells them its own way.
//
// Output: one line per bundled library, then OUT, and last the path of
// OUT.tar.gz. Exit code 0 when done, 1 when it cannot be done (the reason on
// standard error), 2 for bad usage.
#include "app/SettingsFile.h"
#include "app/Download.h"
#include "app/Staging.h"
#include "app/Unit1.h"
#include "app/Verification.h"
#include "archive/ARCHIVES.h"
#include "integrity/Minisign.h"
#include "platform/FileNames.h"
#include "platform/Library.h"
#include "runtime/ToolCli.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QProcess>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const ToolCli cli("fetchlet-publish", "fetchlet-publish [--keep-publisher-layout] FOLDER OUT",
                  "Makes the copy of Fetchlet that end users get from a publisher's prepared\n"
                  "working folder FOLDER (its \"DL.ini\" and \"DSkin\"): the folder OUT with the\n"
                  "program, its archiver libraries, Qt and every other shared library a bare\n"
                  "Debian 12 desktop lacks (all stripped), the settings and the pictures they\n"
                  "name, and the launcher start-fetchlet (with run-fetchlet and\n"
                  "Fetchlet.desktop) that starts the program in OUT wherever it was unpacked;\n"
                  "and the archive OUT.tar.gz of that folder. The last line printed is the\n"
                  "path of OUT.tar.gz.\n"
                  "\n"
                  "  --keep-publisher-layout  copies \"マニュアル.html\", \"Data\", all of \"DSkin\"\n"
                  "                           and the self-extracting stubs too, so that the\n"
                  "                           copy opens the settings window (F1)\n");

const char* const ManualName = "マニュアル.html";

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Output {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program (no shell) and collects what it prints.
Output Run(const QString& program, const QStringList& arguments, bool mustSucceed = true)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted(-1)) {
        if (mustSucceed)
            throw Failure("cannot run " + program.toStdString());
        return {};
    }
    process.closeWriteChannel();
    process.waitForFinished(-1);
    Output result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    if (mustSucceed && result.exitCode != 0)
        throw Failure(program.toStdString() + " failed: " + result.err);
    return result;
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Trim(std::string text)
{
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

// "libfoo1:amd64" -> "libfoo1"
std::string PackageName(std::string name)
{
    name = Trim(name);
    if (const size_t colon = name.find(':'); colon != std::string::npos)
        name.erase(colon);
    return name;
}

// One line of ldd's listing: "soname => /path (address)". False for the
// vDSO, the loader itself and a library not found (where is then "not
// found").
bool LddEntry(const std::string& raw, std::string& soname, std::string& where)
{
    const std::string line = Trim(raw);
    const size_t arrow = line.find(" => ");
    if (arrow == std::string::npos)
        return false;
    soname = line.substr(0, arrow);
    where = line.substr(arrow + 4);
    if (const size_t paren = where.find(" ("); paren != std::string::npos)
        where.erase(paren);
    return !where.empty() && where[0] == '/';
}

// soname -> path, for everything the loader would bring in for these files.
std::map<std::string, std::string> SharedLibrariesOf(const std::vector<std::string>& files)
{
    std::map<std::string, std::string> libraries;
    for (const std::string& file : files) {
        const Output ldd = Run(QStringLiteral("ldd"), {Q(file)}, false);
        if (ldd.exitCode != 0)
            throw Failure("ldd cannot read " + file + ": " + Trim(ldd.err + ldd.out));
        for (const std::string& line : Lines(ldd.out)) {
            std::string soname, where;
            if (LddEntry(line, soname, where))
                libraries.emplace(soname, where);
            else if (where.rfind("not found", 0) == 0)
                throw Failure(file + " needs " + soname + ", which this system does not have");
        }
    }
    return libraries;
}

bool IsElf(const fs::path& file)
{
    char magic[4] = {};
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return false;
    const bool elf = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0;
    std::fclose(f);
    return elf;
}

// The paths of every library the ELF files of these installed packages are
// linked against (the loader's view, so also what those need in turn).
std::vector<std::string> LinkedByPackages(const QStringList& packages)
{
    QStringList arguments = {QStringLiteral("-L")};
    arguments << packages;
    const Output listing = Run(QStringLiteral("dpkg"), arguments, false); // 1 when one is not installed
    QStringList elves;
    for (const std::string& path : Lines(listing.out)) {
        std::error_code error;
        if (path.empty() || path[0] != '/' || !fs::is_regular_file(fs::symlink_status(path, error)) || !IsElf(path))
            continue;
        elves << Q(path);
    }
    std::set<std::string> linked;
    // ldd lists each file under its name; a file it cannot read (not
    // dynamic) leaves the others' listings as they are.
    constexpr int Batch = 64;
    for (int i = 0; i < elves.size(); i += Batch) {
        const Output ldd = Run(QStringLiteral("ldd"), elves.mid(i, Batch), false);
        for (const std::string& line : Lines(ldd.out)) {
            std::string soname, where;
            if (LddEntry(line, soname, where))
                linked.insert(where);
        }
    }
    return {linked.begin(), linked.end()};
}

// The names under which dpkg may know a library: as given, resolved, and
// with or without the "/usr" that the merged /usr puts in front of /lib.
std::vector<std::string> PathVariants(const std::string& path)
{
    std::set<std::string> variants;
    std::vector<std::string> bases = {path};
    std::error_code ignored;
    const fs::path canonical = fs::canonical(path, ignored);
    if (!canonical.empty())
        bases.push_back(canonical.string());
    for (const std::string& base : bases) {
        variants.insert(base);
        if (base.rfind("/usr/", 0) == 0)
            variants.insert(base.substr(4));
        else
            variants.insert("/usr" + base);
    }
    return {variants.begin(), variants.end()};
}

// path -> owning packages, for the given paths that dpkg knows.
std::map<std::string, std::set<std::string>> OwnersOf(const std::vector<std::string>& paths)
{
    std::map<std::string, std::set<std::string>> owners;
    if (paths.empty())
        return owners;
    QStringList arguments = {QStringLiteral("-S")};
    for (const std::string& p : paths)
        arguments << Q(p);
    const Output search = Run(QStringLiteral("dpkg"), arguments, false); // 1 when some are unknown
    for (const std::string& line : Lines(search.out)) {
        if (line.rfind("diversion ", 0) == 0)
            continue;
        const size_t split = line.find(": /");
        if (split == std::string::npos)
            continue;
        const std::string path = line.substr(split + 2);
        std::istringstream names(line.substr(0, split));
        for (std::string name; std::getline(names, name, ',');)
            owners[path].insert(PackageName(name));
    }
    return owners;
}

// The packages of the desktop baseline: those every Debian system has
// (priority "required", Essential) and everything they depend on; those of
// packaging/desktop-baseline; and the packages of what the files of these
// are linked against. What a baseline package merely depends on is not
// counted: libgl1 and libegl1 depend on Mesa's drivers, and the libraries
// those use come with the driver a desktop has, not with every desktop.
std::set<std::string> BaselinePackages()
{
    QStringList listed;
    for (const char* name : {
#include "Baseline.inc"
         })
        listed << QString::fromLatin1(name);
    QStringList required;
    const Output installed =
        Run(QStringLiteral("dpkg-query"), {QStringLiteral("-W"), QStringLiteral("-f=${Package} ${Priority} ${Essential}\\n")});
    for (const std::string& line : Lines(installed.out)) {
        std::istringstream in(line);
        std::string name, priority, essential;
        in >> name >> priority >> essential;
        if (priority == "required" || essential == "yes")
            required << Q(name);
    }
    QStringList arguments = {QStringLiteral("depends"),        QStringLiteral("--recurse"),
                             QStringLiteral("--installed"),    QStringLiteral("--no-recommends"),
                             QStringLiteral("--no-suggests"),  QStringLiteral("--no-conflicts"),
                             QStringLiteral("--no-breaks"),    QStringLiteral("--no-replaces"),
                             QStringLiteral("--no-enhances")};
    arguments << required;
    const Output depends = Run(QStringLiteral("apt-cache"), arguments);
    std::set<std::string> packages;
    for (const QString& name : required + listed)
        packages.insert(PackageName(name.toStdString()));
    for (const std::string& line : Lines(depends.out)) {
        if (line.empty() || line[0] == ' ' || line[0] == '<')
            continue; // a dependency line, or a virtual package
        packages.insert(PackageName(line));
    }
    std::vector<std::string> queries;
    for (const std::string& path : LinkedByPackages(listed))
        for (const std::string& v : PathVariants(path))
            queries.push_back(v);
    for (const auto& [path, owners] : OwnersOf(queries))
        packages.insert(owners.begin(), owners.end());
    return packages;
}

struct Bundled {
    std::string soname;
    std::string from;
    std::string package; // empty: no package owns it
};

// The libraries the files need that lie outside the baseline, but for
// those that are files of the copy already (own).
std::vector<Bundled> LibrariesToBundle(const std::vector<std::string>& files, const std::vector<std::string>& own)
{
    auto libraries = SharedLibrariesOf(files);
    for (const std::string& name : own)
        libraries.erase(name);
    std::vector<std::string> queries;
    for (const auto& [soname, path] : libraries)
        for (const std::string& v : PathVariants(path))
            queries.push_back(v);
    const auto owners = OwnersOf(queries);
    const std::set<std::string> everywhere = BaselinePackages();
    std::vector<Bundled> bundle;
    for (const auto& [soname, path] : libraries) {
        std::set<std::string> packages;
        for (const std::string& v : PathVariants(path))
            if (const auto it = owners.find(v); it != owners.end())
                packages.insert(it->second.begin(), it->second.end());
        const bool present = std::any_of(packages.begin(), packages.end(),
                                         [&](const std::string& p) { return everywhere.count(p) > 0; });
        if (!present)
            bundle.push_back({soname, path, packages.empty() ? std::string() : *packages.begin()});
    }
    return bundle;
}

void CopyFile(const fs::path& from, const fs::path& to, fs::perms mode)
{
    std::error_code error;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
    if (error)
        throw Failure("cannot copy " + from.string() + " to " + to.string() + ": " + error.message());
    fs::permissions(to, mode, error);
}

// What never goes into a copy, wherever it lies: the header capture of a
// test download, the settings' temporary plain copy, the download's lock,
// part files and their resume information, extraction's staging folders and
// the downloaded file.
struct Leftovers {
    std::string download; // the last path component of the address, or ""
    bool operator()(const fs::path& file) const
    {
        const std::string name = file.filename().string();
        const QString folded = Q(name).toCaseFolded();
        return folded == QLatin1String("dl.dat") || folded == QLatin1String("dl2.ini") ||
               folded == QLatin1String("dl.lock") || folded.endsWith(QLatin1String(".part")) ||
               folded.contains(QLatin1String(".part-")) || folded.contains(QLatin1String(".part.info")) ||
               folded.startsWith(QLatin1String(TStaging::Prefix)) || (!download.empty() && name == download);
    }
};

// Copies a folder with everything in it but the leftovers; links are copied
// as what they point to, and links that lead nowhere are left out.
void CopyFolder(const fs::path& from, const fs::path& to, const Leftovers& leftover)
{
    std::error_code error;
    fs::create_directories(to, error);
    if (error)
        throw Failure("cannot create " + to.string() + ": " + error.message());
    for (const auto& entry : fs::directory_iterator(from)) {
        const fs::path target = to / entry.path().filename();
        if (entry.is_directory()) {
            if (!leftover(entry.path()))
                CopyFolder(entry.path(), target, leftover);
        }
        else if (entry.is_regular_file() && !leftover(entry.path()))
            CopyFile(entry.path(), target, fs::perms(0644));
    }
}

void WriteText(const fs::path& path, const std::string& text, fs::perms mode)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
        throw Failure("cannot write " + path.string());
    std::error_code ignored;
    fs::permissions(path, mode, ignored);
}

// A desktop entry's string value: no line breaks, backslashes escaped.
std::string DesktopValue(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

const char* const LauncherName = "start-fetchlet";
const char* const ManifestName = "fetchlet.files";

const char* const RunScript =
    "#!/bin/sh\n"
    "# Starts Fetchlet with this folder as its working folder, wherever the\n"
    "# folder lies (the launcher beside this script does the work).\n"
    "here=$(dirname -- \"$(readlink -f -- \"$0\")\") || exit 1\n"
    "exec \"$here/start-fetchlet\" \"$@\"\n";

// One argument of a desktop entry's Exec line: in double quotes, with the
// four characters that are special there escaped.
std::string ExecArgument(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// The command of Fetchlet.desktop. It starts the launcher beside the entry:
// the entry's own path is %k, which file managers give (GLib's launch of
// an entry file, Thunar, KIO). A launcher that reads the entry as bare text
// (`gio launch`, exo-open) gives none; the copy is then the current
// directory's, as a launcher that starts it in the entry's folder leaves
// it. Failing both, it says so on standard error.
const char* const DesktopCommand =
    "k=$1; d=; "
    "if [ -n \"$k\" ]; then d=$(dirname -- \"$(readlink -f -- \"${k#file://}\")\"); fi; "
    "if [ -z \"$d\" ] || [ ! -x \"$d/start-fetchlet\" ]; then d=$(pwd); fi; "
    "if [ -x \"$d/start-fetchlet\" ]; then exec \"$d/start-fetchlet\"; fi; "
    "echo \"Fetchlet.desktop: Fetchlet のフォルダが分かりません。フォルダを開いてから起動してください。\" >&2; "
    "exit 1";

std::string DesktopEntry(const std::string& title)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=" + DesktopValue(title.empty() ? std::string("Fetchlet") : title) + "\n"
           "Comment=Downloads the publisher's file with Fetchlet\n"
           "Comment[ja]=Fetchlet でファイルをダウンロードします\n"
           "Exec=" + DesktopValue("sh -c " + ExecArgument(DesktopCommand) + " sh %k") + "\n"
           "Terminal=false\n"
           "Categories=Network;FileTransfer;\n";
}

// The publisher's settings (the lines of "DL.ini").
TStringList SettingsOf(const fs::path& settings)
{
    FILE* f = std::fopen(settings.c_str(), "rb");
    if (!f)
        throw Failure("cannot read " + settings.string());
    std::string stored;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        stored.append(buffer, n);
    std::fclose(f);
    return DecodeSettings(stored);
}

std::string Line(const TStringList& lines, int index)
{
    return lines.Count() > index ? lines[index] : std::string();
}

fs::path Absolute(const std::string& path)
{
    return fs::absolute(fs::path(path)).lexically_normal();
}

bool Inside(const fs::path& inner, const fs::path& outer)
{
    const auto o = outer.lexically_normal(), i = inner.lexically_normal();
    auto it = i.begin();
    for (const auto& part : o) {
        if (part.empty())
            continue;
        if (it == i.end() || *it != part)
            return false;
        ++it;
    }
    return true;
}

// Extraction ticked for a file whose name is of no archive kind ends the end
// user's whole download in the archive component's "書庫の形式を判別できま
// せん。"; the publisher is told (the copy is made all the same).
void WarnOnExtraction(const TStringList& lines)
{
    if (Line(lines, 9) != "true")
        return;
    const std::string download = TForm1::LocalFileName(Line(lines, 6));
    const std::string file = download.empty() ? "the file of " + Line(lines, 6) : "\"" + download + "\"";
    const TArchiverType kind = ArchiverTypeByName(download);
    if (kind == atNone)
        std::fprintf(stderr,
                     "fetchlet-publish: warning: extraction is on in DL.ini, but %s is not named as an archive "
                     "Fetchlet extracts: the end user's download would end in \"書庫の形式を判別できません。\"; "
                     "untick \"ダウンロード終了後に自動で解凍する\" in the settings window (F1) unless it is one\n",
                     file.c_str());
    else if (kind == atAutoDetect)
        std::fprintf(stderr,
                     "fetchlet-publish: warning: extraction is on in DL.ini, and %s is extracted only when it is a "
                     "self-extracting archive; untick \"ダウンロード終了後に自動で解凍する\" in the settings "
                     "window (F1) unless it is one\n",
                     file.c_str());
}

std::string TempName(const fs::path& beside)
{
    return beside.string() + ".part-" + std::to_string(::getpid());
}

struct RemoveOnFailure {
    fs::path path;
    ~RemoveOnFailure()
    {
        if (!path.empty()) {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    }
};

// Strips an ELF file of the copy and sets its run path (DT_RPATH, searched
// before LD_LIBRARY_PATH) relative to its own place.
void Prepare(const fs::path& file, const std::string& runPath)
{
    Run(QStringLiteral("strip"), {QStringLiteral("--strip-unneeded"), Q(file.string())});
    Run(QStringLiteral("patchelf"),
        {QStringLiteral("--force-rpath"), QStringLiteral("--set-rpath"), Q(runPath), Q(file.string())});
}

// The name the program gives the downloaded file.
std::string DownloadName(const std::string& url)
{
    if (url.find('/') == std::string::npos)
        return {};
    return TForm1::LocalFileName(url);
}

// The publisher's pin and key, when the folder has them: checked as the
// program reads them (a broken one would fail every end user's download).
// Warns when the copy would take any file a plain http server hands it.
std::vector<std::pair<fs::path, std::string>> Checks(const std::string& dir, const std::string& folderArgument,
                                                     const std::string& url)
{
    std::vector<std::pair<fs::path, std::string>> found;
    const std::string name = DownloadName(url);
    const fs::path key = ResolveName(dir, TVerification::KeyFile);
    const fs::path pin = ResolveName(dir, TVerification::PinFile);
    if (FileExists(key.string()))
        found.emplace_back(key, TVerification::KeyFile);
    if (FileExists(pin.string()))
        found.emplace_back(pin, TVerification::PinFile);
    const bool checked = !found.empty();
    if (checked) {
        TVerification verification(dir);
        if (!verification.Load(name)) {
            const std::string why = verification.Error().substr(verification.Error().find('\n') + 1);
            if (FileExists(key.string()) && !TMinisign::ParseKey(ReadWholeFile(key.string())))
                throw Failure(key.string() + " is not a minisign public key as `minisign -G` writes it");
            throw Failure(folderArgument + ": " + why);
        }
    }
    // The further addresses, each one the program would take.
    const fs::path mirrors = ResolveName(dir, TDownload::MirrorsFile);
    if (FileExists(mirrors.string())) {
        std::vector<std::string> addresses;
        std::string why;
        if (!TDownload::LoadMirrors(dir, addresses, why))
            throw Failure(mirrors.string() + ": " + why);
        found.emplace_back(mirrors, TDownload::MirrorsFile);
    }
    const bool plain = QString::fromStdString(url).startsWith(QLatin1String("http://"), Qt::CaseInsensitive);
    if (!checked && plain)
        std::fprintf(stderr,
                     "fetchlet-publish: warning: %s is fetched over plain http with neither a signature key (DL.pub)"
                     " nor a SHA-256 pin (DL.sha256): anyone on the path can hand the end user another file\n",
                     url.c_str());
    return found;
}

// Qt's plugins the copy carries, as Qt finds them below its plugin folder:
// the xcb platform (X11, and XWayland on Wayland desktops) and ICO, the one
// picture format the program reads through a plugin (BMP and PNG are built
// into Qt, JPEG goes through libjpeg).
const char* const QtPlugins[] = {"platforms/libqxcb.so", "imageformats/libqico.so"};

const char* const QtConf = "[Paths]\n"
                           "Prefix=.\n"
                           "Plugins=plugins\n";

int Publish(const std::string& folderArgument, const std::string& outArgument, bool keepLayout)
{
    const fs::path folder = Absolute(folderArgument);
    fs::path out = Absolute(outArgument);
    if (out.filename().empty())
        out = out.parent_path();
    if (!DirectoryExists(folder.string()))
        throw Failure(folderArgument + " is not a folder");
    const std::string dir = folder.string() + "/";
    const fs::path settings = ResolveName(dir, "DL.ini");
    const fs::path skins = ResolveName(dir, "DSkin");
    if (!FileExists(settings.string()))
        throw Failure(folderArgument + " has no DL.ini: prepare it with the settings window first");
    if (!DirectoryExists(skins.string()))
        throw Failure(folderArgument + " has no DSkin folder");
    std::error_code error;
    if (fs::exists(fs::symlink_status(out, error)))
        throw Failure(outArgument + " exists already");
    const TStringList lines = SettingsOf(settings);
    const Leftovers leftover{DownloadName(Line(lines, 6))};
    const auto checks = Checks(dir, folderArgument, Line(lines, 6));
    std::vector<std::pair<fs::path, std::string>> copied;
    if (keepLayout) {
        copied.emplace_back(skins, "DSkin");
        for (const char* name : {ManualName, "Data"}) {
            const fs::path found = ResolveName(dir, name);
            if (fs::exists(found, error))
                copied.emplace_back(found, name);
            else
                std::fprintf(stderr, "fetchlet-publish: %s has no %s; the copy does not open the settings window\n",
                             folderArgument.c_str(), name);
        }
    }
    WarnOnExtraction(lines);
    if (Inside(out, skins))
        throw Failure(outArgument + " lies inside " + skins.string());
    for (const auto& [source, name] : copied)
        if (Inside(out, source))
            throw Failure(outArgument + " lies inside " + source.string());
    // The pictures the settings name: the skin (line 1) and the icon (line 6).
    std::vector<std::pair<fs::path, std::string>> pictures;
    if (!keepLayout)
        for (int index : {0, 5}) {
            const std::string name = Line(lines, index);
            if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
                continue;
            const fs::path found = ResolveName(skins.string() + "/", name);
            if (FileExists(found.string()))
                pictures.emplace_back(found, name);
            else
                std::fprintf(stderr, "fetchlet-publish: the settings name DSkin/%s, which %s does not have\n",
                             name.c_str(), folderArgument.c_str());
        }

    // What the copy runs: the program this tool came with, its private files
    // but the stubs (unless the publisher's layout is kept), the launcher and
    // Qt's plugins.
    const fs::path program = ProgramFolder() + "fetchlet";
    if (!FileExists(program.string()))
        throw Failure("the program is missing: " + program.string());
    const std::string privateFolder = PrivateFolder();
    const fs::path launcher = privateFolder + LauncherName;
    if (!FileExists(launcher.string()))
        throw Failure("the launcher is missing: " + launcher.string());
    const std::set<std::string> stubs = {
#include "StubFiles.inc"
    };
    std::vector<std::string> privateNames;
    for (const char* name : {
#include "PrivateFiles.inc"
         })
        if (keepLayout || !stubs.count(name))
            privateNames.push_back(name);
    std::vector<std::string> runs = {program.string(), launcher.string()};
    for (const std::string& name : privateNames) {
        if (!FileExists(privateFolder + name))
            throw Failure("the program's file is missing: " + privateFolder + name);
        runs.push_back(privateFolder + name);
    }
    const fs::path pluginFolder = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString();
    for (const char* plugin : QtPlugins) {
        if (!FileExists((pluginFolder / plugin).string()))
            throw Failure("Qt's plugin is missing: " + (pluginFolder / plugin).string());
        runs.push_back((pluginFolder / plugin).string());
    }
    const std::vector<Bundled> bundle = LibrariesToBundle(runs, privateNames);

    const fs::path work = TempName(out);
    RemoveOnFailure cleanup{work};
    fs::remove_all(work, error);
    if (!fs::create_directories(work, error) || error)
        throw Failure("cannot create " + work.string() + ": " + error.message());
    fs::permissions(work, fs::perms(0755), error);
    std::vector<std::string> parts; // for the launcher's check
    const auto take = [&](const fs::path& from, const std::string& name, fs::perms mode, const char* runPath) {
        CopyFile(from, work / name, mode);
        if (runPath && IsElf(work / name))
            Prepare(work / name, runPath);
        parts.push_back(name);
    };
    take(program, "fetchlet", fs::perms(0755), "$ORIGIN/lib");
    take(launcher, LauncherName, fs::perms(0755), "$ORIGIN/lib");
    for (const std::string& name : privateNames)
        take(privateFolder + name, name, stubs.count(name) ? fs::perms(0755) : fs::perms(0644), "$ORIGIN:$ORIGIN/lib");
    fs::create_directories(work / "lib", error);
    for (const Bundled& library : bundle) {
        take(library.from, "lib/" + library.soname, fs::perms(0644), "$ORIGIN");
        std::printf("bundled %s (%s)\n", library.soname.c_str(),
                    library.package.empty() ? library.from.c_str() : library.package.c_str());
    }
    for (const char* plugin : QtPlugins) {
        fs::create_directories((work / "plugins" / plugin).parent_path(), error);
        take(pluginFolder / plugin, std::string("plugins/") + plugin, fs::perms(0644), "$ORIGIN/../../lib");
    }
    WriteText(work / "qt.conf", QtConf, fs::perms(0644));
    parts.push_back("qt.conf");
    // The Japanese font the windows are set in, for machines that have none:
    // the program registers what it finds in "fonts" beside itself.
    const fs::path font = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf";
    if (fs::exists(font)) {
        fs::create_directory(work / "fonts", error);
        take(font, "fonts/ipagp.ttf", fs::perms(0644), nullptr);
        if (fs::exists("/usr/share/doc/fonts-ipafont-gothic/copyright"))
            CopyFile("/usr/share/doc/fonts-ipafont-gothic/copyright", work / "fonts" / "copyright", fs::perms(0644));
    }
    std::string manifest;
    for (const std::string& part : parts)
        manifest += part + "\n";
    WriteText(work / ManifestName, manifest, fs::perms(0644));

    CopyFile(settings, work / "DL.ini", fs::perms(0644));
    for (const auto& [source, name] : checks)
        CopyFile(source, work / name, fs::perms(0644));
    fs::create_directory(work / "DSkin", error);
    for (const auto& [source, name] : pictures)
        CopyFile(source, work / "DSkin" / name, fs::perms(0644));
    for (const auto& [source, name] : copied) {
        if (fs::is_directory(source))
            CopyFolder(source, work / name, leftover);
        else
            CopyFile(source, work / name, fs::perms(0644));
    }
    // Qt's translations of its dialogs: the program looks for them in
    // "translations" beside itself when the system has none.
    const fs::path qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString();
    if (fs::is_directory(qtTranslations, error))
        for (const auto& entry : fs::directory_iterator(qtTranslations, error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("qtbase_", 0) == 0 && entry.path().extension() == ".qm" && entry.is_regular_file(error)) {
                fs::create_directory(work / "translations", error);
                CopyFile(entry.path(), work / "translations" / name, fs::perms(0644));
            }
        }
    WriteText(work / "run-fetchlet", RunScript, fs::perms(0755));
    WriteText(work / "Fetchlet.desktop", DesktopEntry(Line(lines, 4)), fs::perms(0755));

    fs::rename(work, out, error);
    if (error)
        throw Failure("cannot create " + out.string() + ": " + error.message());
    cleanup.path = out; // until the archive is written too

    const fs::path archive = out.string() + ".tar.gz";
    const fs::path partial = TempName(archive);
    RemoveOnFailure archiveCleanup{partial};
    Run(QStringLiteral("tar"), {QStringLiteral("-C"), Q(out.parent_path().string()), QStringLiteral("-cf"),
                                Q(partial.string()), QStringLiteral("-I"), QStringLiteral("gzip -9n"),
                                QStringLiteral("--sort=name"), QStringLiteral("--owner=0"), QStringLiteral("--group=0"),
                                QStringLiteral("--numeric-owner"), QStringLiteral("--"),
                                Q(out.filename().string())});
    fs::rename(partial, archive, error);
    if (error)
        throw Failure("cannot write " + archive.string() + ": " + error.message());
    archiveCleanup.path.clear();
    cleanup.path.clear();
    std::printf("%s\n%s\n", out.c_str(), archive.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    bool keepLayout = false;
    std::vector<std::string> positional;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsDone && arg == "--keep-publisher-layout")
            keepLayout = true;
        else if (!optionsDone && arg == "--")
            optionsDone = true;
        else if (!optionsDone && arg.size() > 1 && arg[0] == '-')
            return cli.Usage("unknown option " + arg);
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2)
        return cli.Usage(positional.size() < 2 ? "FOLDER and OUT are needed" : "too many arguments");
    QCoreApplication app(argc, argv);
    try {
        return Publish(positional[0], positional[1], keepLayout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fetchlet-publish: %s\n", e.what());
        return 1;
    }
}
