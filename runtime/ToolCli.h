// The command-line conventions every tool of the project follows, as GNU
// tools do:
//   --help      the usage and a short description on standard output, exit 0
//   --version   "NAME (Fetchlet) VERSION" on standard output, exit 0
//   bad usage   "NAME: WHY", the usage and a pointer to --help on standard
//               error, exit 2
//   an input that is missing or cannot be read
//               "NAME: cannot read PATH: WHY" on standard error, exit 1
//               (as every other failure of the work itself)
// --help and --version are recognised anywhere before a "--" that ends the
// options; the first of them wins.
//
//   int main(int argc, char** argv)
//   {
//       const ToolCli cli{"crclist", "crclist [-32] PATH...", "Checksums files..."};
//       if (const auto done = cli.StandardOptions(argc, argv))
//           return *done;
//       ...
//       if (bad)
//           return cli.Usage("no path given");
//   }
#pragma once
#include <optional>
#include <string>

class ToolCli {
public:
    // usage: one or more lines of synopsis without "Usage: " (lines after the
    // first are indented in the output); description: the text that --help
    // prints after the synopsis, lines ending in "\n".
    ToolCli(std::string name, std::string usage, std::string description);

    // --help or --version among the arguments: prints the answer and gives
    // the exit code (0, or 1 when standard output cannot be written);
    // nothing otherwise.
    std::optional<int> StandardOptions(int argc, char** argv) const;
    // Prints "NAME: why" (when why is not empty) and the usage on standard
    // error; returns 2, the exit code of bad usage.
    int Usage(const std::string& why) const;
    // What an input has to be.
    enum class Input { FileOrFolder, File, Folder };
    // Whether the input at path can be read as that: a file that opens for
    // reading, a folder whose entries can be listed. When not, prints
    // "NAME: cannot read PATH: WHY" on standard error.
    bool Readable(const std::string& path, Input kind = Input::FileOrFolder) const;

    std::string HelpText() const;
    std::string VersionText() const;
    const std::string& Name() const { return name_; }

private:
    std::string synopsis() const;
    std::string name_;
    std::string usage_;
    std::string description_;
};

// The version of the program and its tools ("1.0.0").
const char* FetchletVersion();
