// arcx: the archive component's operations on the command line.
//
//   arcx [--owner] [--type KIND] [--opt NAME=VALUE]... [extract] ARCHIVE DEST
//   arcx [--type KIND] [--opt NAME=VALUE]... pack   ARCHIVE FOLDER MEMBER...
//   arcx [--type KIND] [--opt NAME=VALUE]... update ARCHIVE FOLDER MEMBER...
//   arcx [--type KIND] [--opt NAME=VALUE]... remove ARCHIVE MEMBER...
//   arcx [--type KIND] [--opt NAME=VALUE]... mem    ARCHIVE MEMBER OUTFILE
//   arcx [--type KIND]                       check  ARCHIVE [MODE]
//   arcx [--type KIND]                       list   ARCHIVE [WILDCARD]
//   arcx [--type KIND] [--opt NAME=VALUE]... sfx    ARCHIVE [FOLDER]
//
// extract (also without the word) does what the main window does: FileName
// is set to ARCHIVE, Options.x to 1 (unless an --opt sets x), then every
// --opt is applied, and Extract runs with no option set, destination DEST
// and a file list holding one null pointer (the whole archive).
//
// The other operations call the back-end of KIND (lha zip cab arj tar tgz
// bz2 rar bga; without --type the kind comes from ARCHIVE's name as the
// program detects it, by content for ".exe"): Pack, UpdateItems and
// RemoveItems with the response-file flag of ruOnPack, ruOnUpdate and
// ruOnRemoveItem; mem sizes the buffer to the member (from the listing),
// writes exactly the bytes ExtractMem wrote to OUTFILE and prints
// "Count=N"; check calls CheckArchive (MODE, 0), MODE 2 (the full check)
// unless given, and prints "Valid=1" or "Valid=0"; list prints one line per
// member, NAME TAB SIZE TAB COMPRESSED TAB METHOD TAB CRC (upper-case hex)
// TAB YYYY-MM-DD HH:MM:SS (local time), from OpenArchive, FindFirst,
// FindNext and CloseArchive; sfx calls MakeSfx, which writes the
// self-extracting file beside ARCHIVE (or into FOLDER).
//
// --opt NAME=VALUE  an option property (a, x, jx, jm, UserOptions,
//                   ResFileName, ResFileUsage, ...)
// --owner           a hidden window is the owner: the library's progress
//                   reports are printed on standard error as
//                   "Progress STATE NAME"
//
// Every operation that runs a library command prints "CommandLine=TEXT"
// (sfx of the tar family runs none and prints only the result)
// and "Result=N" on standard output; the exit code is 0 when N is 0 (for
// check: when valid; for list: when the archive opened), else 1; 3 after an
// EArchiver ("EArchiver: MESSAGE" on standard output); 2 for bad usage; 1
// with the message on standard error for the runtime's other errors (a file
// that cannot be created) and for an input that is missing or cannot be
// read (ARCHIVE, or FOLDER of pack and update, whose ARCHIVE may be new),
// before any library is called.
#include "archive/ARCHIVES.h"
#include "platform/MessageWindow.h"
#include "runtime/ToolCli.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

namespace {

const ToolCli cli("arcx",
                  "arcx [--owner] [--type KIND] [--opt NAME=VALUE]... [extract] ARCHIVE DEST\n"
                  "arcx [--type KIND] [--opt NAME=VALUE]... pack   ARCHIVE FOLDER MEMBER...\n"
                  "arcx [--type KIND] [--opt NAME=VALUE]... update ARCHIVE FOLDER MEMBER...\n"
                  "arcx [--type KIND] [--opt NAME=VALUE]... remove ARCHIVE MEMBER...\n"
                  "arcx [--type KIND] [--opt NAME=VALUE]... mem    ARCHIVE MEMBER OUTFILE\n"
                  "arcx [--type KIND] check  ARCHIVE [MODE]\n"
                  "arcx [--type KIND] list   ARCHIVE [WILDCARD]\n"
                  "arcx [--type KIND] [--opt NAME=VALUE]... sfx    ARCHIVE [FOLDER]",
                  "Runs one operation of the archive component through the archiver\n"
                  "libraries and prints the command line and the library's result.\n"
                  "\n"
                  "  extract    extracts ARCHIVE into DEST as the program does (x = 1)\n"
                  "  pack       creates or adds to ARCHIVE from the MEMBERs of FOLDER\n"
                  "  update     replaces members with newer files of FOLDER\n"
                  "  remove     deletes MEMBERs from ARCHIVE\n"
                  "  mem        writes one member into OUTFILE through memory\n"
                  "  check      checks ARCHIVE (MODE 2, the full check, by default)\n"
                  "  list       lists the members (all, or those WILDCARD matches)\n"
                  "  sfx        makes a self-extracting file of ARCHIVE (beside it, or in FOLDER)\n"
                  "\n"
                  "  --type KIND       lha zip cab arj tar tgz bz2 rar bga (default: by name)\n"
                  "  --opt NAME=VALUE  sets an option property (a, x, jx, UserOptions, ...)\n"
                  "  --owner           relays progress to a hidden window (printed on stderr)\n"
                  "\n"
                  "Exit status: 0 when the result is 0, 1 otherwise, 3 after an EArchiver,\n"
                  "2 for bad usage.\n");

const std::map<std::string, TArchiverType> kinds = {
    {"lha", atLha}, {"zip", atZip}, {"cab", atCab}, {"arj", atArj}, {"tar", atTar},
    {"tgz", atTgz}, {"bz2", atBZ2}, {"rar", atRar}, {"bga", atBga},
};

bool parseOption(const std::string& item, std::vector<std::pair<std::string, std::string>>& options)
{
    const size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    options.emplace_back(item.substr(0, eq), item.substr(eq + 1));
    return true;
}

std::string timeText(const INDIVIDUALINFO& info)
{
    char text[32] = "0000-00-00 00:00:00";
    if (info.MTime >= 0) {
        const time_t t = static_cast<time_t>(info.MTime);
        struct tm tm {};
        if (localtime_r(&t, &tm))
            std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    }
    return text;
}

int printResult(const std::string& commandLine, int result)
{
    std::cout << "CommandLine=" << commandLine << "\n" << "Result=" << result << "\n";
    return result == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    QCoreApplication app(argc, argv);
    bool owner = false;
    std::string type;
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--owner") {
            owner = true;
        } else if (arg == "--opt" || arg == "--type") {
            if (k + 1 >= argc)
                return cli.Usage(arg + " needs a value");
            if (arg == "--type")
                type = argv[++k];
            else if (!parseOption(argv[++k], options))
                return cli.Usage("--opt needs NAME=VALUE");
        } else if (arg.rfind("--opt=", 0) == 0) {
            if (!parseOption(arg.substr(6), options))
                return cli.Usage("--opt needs NAME=VALUE");
        } else if (arg.rfind("--type=", 0) == 0) {
            type = arg.substr(7);
        } else if (arg == "--") {
            for (++k; k < argc; ++k)
                positional.emplace_back(argv[k]);
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return cli.Usage("unknown switch " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (!type.empty() && !kinds.count(type))
        return cli.Usage("unknown kind " + type + " (lha zip cab arj tar tgz bz2 rar bga)");

    // The operation and its arguments.
    static const std::map<std::string, std::pair<size_t, size_t>> counts = {
        {"extract", {2, 2}}, {"pack", {3, 1000000}}, {"update", {3, 1000000}}, {"remove", {2, 1000000}},
        {"mem", {3, 3}},     {"check", {1, 2}},      {"list", {1, 2}},          {"sfx", {1, 2}},
    };
    std::string operation = "extract";
    if (!positional.empty() && counts.count(positional[0])) {
        operation = positional[0];
        positional.erase(positional.begin());
    }
    const auto [least, most] = counts.at(operation);
    if (positional.size() < least || positional.size() > most)
        return cli.Usage("wrong arguments for " + operation);
    if ((operation == "check" || operation == "list") && !options.empty())
        return cli.Usage(operation + " takes no options");

    // Options are checked before anything is loaded.
    TArchiverOptions opts;
    if (operation == "extract")
        opts.x = 1;
    for (const auto& [name, value] : options) {
        try {
            opts.SetProperty(name, value);
        } catch (const std::exception& e) {
            return cli.Usage(e.what());
        }
    }

    std::unique_ptr<TMessageWindow> window;
    HWND ownerWindow = 0;
    auto report = [](int state, LPEXTRACTINGINFOEX eis) {
        std::cerr << "Progress " << state << " " << (eis ? eis->SourceFileName : "") << "\n";
    };
    const std::string& archivePath = positional[0];
    if (operation == "pack" || operation == "update") {
        if (!cli.Readable(positional[1], ToolCli::Input::Folder))
            return 1;
    } else if (!cli.Readable(archivePath, ToolCli::Input::File)) {
        return 1;
    }
    try {
        if (operation == "extract") {
            TArchiveFile archive;
            archive.SetFileName(archivePath);
            if (!type.empty())
                archive.SetArchiverType(kinds.at(type));
            archive.SetOptions(opts);
            if (owner) {
                window = std::make_unique<TMessageWindow>([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "arcx");
                ownerWindow = window->Handle();
                archive.OnProgress = [report](TObject*, int state, LPEXTRACTINGINFOEX eis, bool&) { report(state, eis); };
            }
            const int result = archive.Extract(ownerWindow, nullptr, positional[1], {nullptr});
            return printResult(archive.CommandLine(), result);
        }

        const TArchiverType kind = type.empty() ? DetectArchiverType(archivePath) : kinds.at(type);
        std::unique_ptr<TArchiver> backEnd = MakeArchiver(kind);
        if (!backEnd)
            throw EArchiver("書庫の形式を判別できません。");
        if (owner) {
            static UINT message = RegisterWindowMessageA(ARC_WM_ARCEXTRACT);
            window = std::make_unique<TMessageWindow>(
                [report](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
                    if (msg == message)
                        report(static_cast<int>(wParam), reinterpret_cast<LPEXTRACTINGINFOEX>(lParam));
                    return 0;
                },
                "arcx");
            backEnd->SetOwnerWindow(window->Handle());
        }
        TOutputBuffer output;
        const std::vector<std::string> rest(positional.begin() + 1, positional.end());
        if (operation == "pack" || operation == "update") {
            const std::vector<std::string> members(rest.begin() + 1, rest.end());
            const int result =
                operation == "pack"
                    ? backEnd->Pack(0, archivePath, output, opts.ResFileUsage.Contains(ruOnPack), {members}, rest[0], opts)
                    : backEnd->UpdateItems(0, archivePath, output, opts.ResFileUsage.Contains(ruOnUpdate), {members},
                                           rest[0], opts);
            return printResult(backEnd->CommandLine, result);
        }
        if (operation == "remove") {
            const int result =
                backEnd->RemoveItems(0, archivePath, output, opts.ResFileUsage.Contains(ruOnRemoveItem), {rest}, "", opts);
            return printResult(backEnd->CommandLine, result);
        }
        if (operation == "sfx") {
            const int result = backEnd->MakeSfx(0, archivePath, output, rest.empty() ? std::string() : rest[0], opts);
            if (!backEnd->CommandLine.empty())
                std::cout << "CommandLine=" << backEnd->CommandLine << "\n";
            std::cout << "Result=" << result << "\n";
            return result == 0 ? 0 : 1;
        }
        if (operation == "check") {
            int mode = 2;
            if (rest.size() == 1) {
                char* end = nullptr;
                mode = static_cast<int>(std::strtol(rest[0].c_str(), &end, 10));
                if (rest[0].empty() || *end)
                    return cli.Usage("MODE must be a number");
            }
            const bool valid = backEnd->CheckArchive(archivePath, mode, 0) != 0;
            std::cout << "Valid=" << (valid ? 1 : 0) << "\n";
            return valid ? 0 : 1;
        }

        // list and mem read the listing.
        const std::string wildcard = rest.empty() ? std::string("*") : rest[0];
        const HARC handle = backEnd->OpenArchive(0, archivePath, 0);
        if (!handle) {
            std::cerr << "arcx: " << archivePath << " does not open as an archive of this kind\n";
            return 1;
        }
        INDIVIDUALINFO info{};
        uint64_t size = 0;
        bool found = false;
        for (int r = backEnd->FindFirst(handle, wildcard, &info); r == 0; r = backEnd->FindNext(handle, &info)) {
            if (operation == "list") {
                char crc[16];
                std::snprintf(crc, sizeof crc, "%08X", info.CRC);
                std::cout << info.FileName << "\t" << info.OriginalSize << "\t" << info.CompressedSize << "\t"
                          << info.Method << "\t" << crc << "\t" << timeText(info) << "\n";
            } else if (!found && !(info.Attributes & 0x10)) {
                size = info.OriginalSize;
                found = true;
            }
        }
        backEnd->CloseArchive(handle);
        if (operation == "list")
            return 0;

        if (size > 0x7FFFFFFF) {
            std::cerr << "arcx: " << rest[0] << " is too large for a buffer in memory\n";
            return 1;
        }
        std::vector<char> buffer(static_cast<size_t>(size) + 1);
        int written = 0;
        const int result =
            backEnd->ExtractMem(0, archivePath, buffer.data(), static_cast<int>(size), written, rest[0], opts);
        std::ofstream out(rest[1], std::ios::binary);
        out.write(buffer.data(), written);
        out.close();
        if (!out) {
            std::cerr << "arcx: cannot write " << rest[1] << "\n";
            return 1;
        }
        std::cout << "Count=" << written << "\n";
        return printResult(backEnd->CommandLine, result);
    } catch (const EArchiver& e) {
        std::cout << "EArchiver: " << e.Message() << "\n";
        return 3;
    } catch (const std::exception& e) {
        // The runtime's errors (a file that cannot be created, ...).
        std::cerr << "arcx: " << e.what() << "\n";
        return 1;
    }
}
