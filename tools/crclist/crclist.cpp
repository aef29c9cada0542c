// crclist [-32] PATH...
//
// Checksums the given files and folders with TCRCList (CRC-16, or CRC-32
// with -32), prints every line of the report followed by LF and then
// "CRCText=" with the CRC text of the last file. A PATH that is missing or
// cannot be read is named on standard error and the exit code is 1; the
// report covers the others (nothing is printed when none is left). Files
// inside a folder that cannot be read are left out of the report as the
// component leaves them out. Bad usage (no path, an unknown option) exits
// with 2. "--" ends the options, for paths that begin with "-". --help and
// --version as every tool answers them.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "integrity/CrcListComp.h"
#include "runtime/ToolCli.h"

int main(int argc, char** argv)
{
    const ToolCli cli("crclist", "crclist [-32] PATH...",
                      "Prints the CRC report of the given files and folders (folders with\n"
                      "everything in them): CRC-16, or CRC-32 with -32, one line per file,\n"
                      "then CRCText= with the CRC text of the last file. A PATH that cannot be\n"
                      "read is named on standard error, and the exit code is then 1.\n"
                      "\n"
                      "  -32        CRC-32 instead of CRC-16\n"
                      "  --         ends the options (for paths that begin with \"-\")\n");
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    TCRCList list;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; i++) {
        if (std::strcmp(argv[i], "--") == 0) {
            i++;
            break;
        }
        if (std::strcmp(argv[i], "-32") != 0)
            return cli.Usage(std::string("unknown option ") + argv[i]);
        list.CRCType = c32;
    }
    if (i >= argc)
        return cli.Usage("no path given");

    list.Files.Clear();
    bool allRead = true;
    for (; i < argc; i++) {
        if (cli.Readable(argv[i]))
            list.Files.Add(argv[i]);
        else
            allRead = false;
    }
    if (list.Files.Count() == 0)
        return 1;
    try {
        list.Execute();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crclist: %s\n", e.what());
        return 1;
    }
    for (const std::string& line : list.Report)
        std::printf("%s\n", line.c_str());
    std::printf("CRCText=%s\n", list.CRCText.c_str());
    return std::fflush(stdout) == 0 && allRead ? 0 : 1;
}
