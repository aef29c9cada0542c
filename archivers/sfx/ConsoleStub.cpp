// The console stub of self-extracting files: "sfx16.dat" (ZIP),
// "kmtarsef.exe" (the tar family), "lhasfx.dat" (LHA and ARJ), "cabsfx.dat"
// (CAB), "bgasfx.dat" (BGA). The same program built once per name, each
// reading its kinds (STUB_KINDS); the back-ends and library commands put an
// archive after a copy of it.
//
//   NAME [-d DIR]   extracts every member into DIR (default: the current
//                   directory), creating it when missing
//   NAME -l         lists the members
//   NAME -t         decodes every member and checks it
//
// Exit status 0 only when every member is right; otherwise one line on
// standard error says what went wrong (1), what was extracted before the
// damage stays; 2 for bad usage.
#include "ArchiverApi.h"
#include "sfx/SelfArchive.h"

#include <cstring>
#include <iostream>
#include <string>

namespace {

const char* Name(const char* argv0)
{
    const char* slash = std::strrchr(argv0, '/');
    return slash ? slash + 1 : argv0;
}

int Usage(const char* name)
{
    std::cerr << "usage: " << name << " [-d DIR] | -l | -t\n"
              << "  (no option)  extract into the current directory\n"
              << "  -d DIR       extract into DIR\n"
              << "  -l           list the members\n"
              << "  -t           test the members\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const char* name = Name(argc > 0 ? argv[0] : "sfx");
    std::string destination;
    bool list = false, test = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-d" && i + 1 < argc)
            destination = argv[++i];
        else if (arg == "-l")
            list = true;
        else if (arg == "-t")
            test = true;
        else if (arg == "-h" || arg == "--help") {
            Usage(name);
            return 0;
        } else
            return Usage(name);
    }
    if ((list || test) && (!destination.empty() || (list && test)))
        return Usage(name);

    arc::SelfArchive self({STUB_KINDS}, argc > 0 ? argv[0] : nullptr);
    if (!self.Found()) {
        std::cerr << name << ": " << self.Why() << "\n";
        return 1;
    }
    if (list) {
        int r = self.List(std::cout);
        if (r != 0)
            std::cerr << name << ": the archive is damaged\n";
        return r == 0 ? 0 : 1;
    }
    std::string log;
    if (test) {
        int r = self.Test(log);
        if (r != 0) {
            std::cerr << name << ": " << arc::SelfArchive::FirstError(log, r) << "\n";
            return 1;
        }
        std::cout << "every member is right\n";
        return 0;
    }
    int extracted = 0;
    int r = self.Extract(destination, log, extracted);
    if (r != 0) {
        std::cerr << name << ": " << arc::SelfArchive::FirstError(log, r) << "\n";
        return 1;
    }
    std::cout << extracted << " members extracted into " << (destination.empty() ? "." : destination) << "\n";
    return 0;
}
