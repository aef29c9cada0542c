// arcx [--owner] [--opt NAME=VALUE]... ARCHIVE DEST
//
// Extracts ARCHIVE into DEST the way the main window does: FileName is set
// to ARCHIVE, Options.x to 1 (unless an --opt sets x), then every --opt is
// applied (NAME is an option property: a, x, jx, UserOptions, ResFileName,
// ResFileUsage, ...), and Extract runs with no option set, destination DEST
// and a file list holding one null pointer (the whole archive).
//
// --owner  hands a hidden window to the library as owner and relays
//          progress to it; each report is printed on standard error as
//          "Progress STATE NAME".
//
// Standard output: "CommandLine=TEXT" and "Result=N". Exit code 0 when the
// result is 0, 1 otherwise; 3 after an EArchiver ("EArchiver: MESSAGE" on
// standard output); 2 for a bad invocation or another error.
#include "archive/ARCHIVES.h"
#include "platform/MessageWindow.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

namespace {

int usage(const char* message)
{
    std::cerr << "arcx: " << message << "\n"
              << "usage: arcx [--owner] [--opt NAME=VALUE]... ARCHIVE DEST\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool owner = false;
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--owner") {
            owner = true;
        } else if (arg == "--opt") {
            if (k + 1 >= argc)
                return usage("--opt needs NAME=VALUE");
            const std::string item = argv[++k];
            const size_t eq = item.find('=');
            if (eq == std::string::npos || eq == 0)
                return usage("--opt needs NAME=VALUE");
            options.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        } else if (arg.rfind("--opt=", 0) == 0) {
            const std::string item = arg.substr(6);
            const size_t eq = item.find('=');
            if (eq == std::string::npos || eq == 0)
                return usage("--opt needs NAME=VALUE");
            options.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        } else if (arg == "--") {
            for (++k; k < argc; ++k)
                positional.emplace_back(argv[k]);
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return usage(("unknown switch " + arg).c_str());
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2)
        return usage("ARCHIVE and DEST are needed");

    // Options are checked before anything is loaded.
    TArchiverOptions probe;
    for (const auto& [name, value] : options) {
        try {
            probe.SetProperty(name, value);
        } catch (const std::exception& e) {
            return usage(e.what());
        }
    }

    TArchiveFile archive;
    std::unique_ptr<TMessageWindow> window;
    try {
        archive.SetFileName(positional[0]);
        archive.Options().x = 1;
        for (const auto& [name, value] : options)
            archive.Options().SetProperty(name, value);
        HWND ownerWindow = 0;
        if (owner) {
            window = std::make_unique<TMessageWindow>([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, "arcx");
            ownerWindow = window->Handle();
            archive.OnProgress = [](TObject*, int state, LPEXTRACTINGINFOEX eis, bool&) {
                std::cerr << "Progress " << state << " " << (eis ? eis->SourceFileName : "") << "\n";
            };
        }
        const int result = archive.Extract(ownerWindow, nullptr, positional[1], {nullptr});
        std::cout << "CommandLine=" << archive.CommandLine() << "\n" << "Result=" << result << "\n";
        return result == 0 ? 0 : 1;
    } catch (const EArchiver& e) {
        std::cout << "EArchiver: " << e.Message() << "\n";
        return 3;
    } catch (const std::exception& e) {
        std::cerr << "arcx: " << e.what() << "\n";
        return 2;
    }
}
