// dlini: reads and writes the stored settings file "DL.ini".
//
//   dlini decode [FILE]   prints the plain lines as UTF-8, each followed by LF
//   dlini encode [FILE]   reads UTF-8 lines from standard input and writes FILE
//                         in the stored form (CP932, CR LF, every byte XOR 0xA7)
//
// FILE defaults to "DL.ini" in the current directory. A missing or
// unreadable file, a file that cannot be written, or text that has no CP932
// form, ends with exit code 1 and one line on standard error naming it;
// nothing is written then. Bad usage: exit 2.
// --help and --version as every tool answers them.
#include "app/SettingsFile.h"
#include "platform/Cp932.h"
#include "runtime/Exceptions.h"
#include "runtime/ToolCli.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

namespace {

const ToolCli cli("dlini", "dlini decode [FILE]\ndlini encode [FILE]",
                  "Reads and writes the program's stored settings file (FILE, by default\n"
                  "\"DL.ini\" in the current directory).\n"
                  "\n"
                  "  decode     prints the plain lines of FILE as UTF-8, one per line\n"
                  "  encode     reads UTF-8 lines from standard input and writes FILE in\n"
                  "             the stored form (CP932, CR LF line ends, scrambled)\n");

int decode(const std::string& path)
{
    if (!cli.Readable(path, ToolCli::Input::File))
        return 1;
    std::string stored;
    try {
        stored = ReadWholeFile(path);
    } catch (const Exception& e) {
        std::fprintf(stderr, "dlini: %s\n", e.what());
        return 1;
    }
    const TStringList lines = DecodeSettings(stored);
    std::string out;
    for (const auto& line : lines)
        out += line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int encode(const std::string& path)
{
    const std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    TStringList plain;
    // Lines end at LF (a CR before it is dropped); a final line end adds no
    // empty line.
    plain.SetText(input);
    TStringList cp932;
    for (int i = 0; i < plain.Count(); i++) {
        const auto converted = Utf8ToCp932(plain[i]);
        if (!converted) {
            std::fprintf(stderr, "dlini: line %d has no CP932 form: %s\n", i + 1, plain[i].c_str());
            return 1;
        }
        cp932.Add(*converted);
    }
    try {
        WriteWholeFile(path, ScrambleBytes(cp932.Text()));
    } catch (const Exception& e) {
        std::fprintf(stderr, "dlini: %s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    if (argc < 2)
        return cli.Usage("decode or encode is needed");
    if (argc > 3)
        return cli.Usage("too many arguments");
    const std::string command = argv[1];
    const std::string path = argc == 3 ? argv[2] : "DL.ini";
    if (command == "decode")
        return decode(path);
    if (command == "encode")
        return encode(path);
    return cli.Usage("unknown command " + command);
}
