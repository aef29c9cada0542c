#include "MinisignTool.h"

#include "Commands.h"

namespace testsupport {

MinisignKey MinisignKey::Make(const std::string& dir, const std::string& name)
{
    MinisignKey key;
    key.pub = dir + "/" + name + ".pub";
    key.sec = dir + "/" + name + ".key";
    key.ok = RunShell("minisign -G -f -W -p " + ShellQuote(key.pub) + " -s " + ShellQuote(key.sec)).exitCode == 0;
    return key;
}

bool MinisignKey::Sign(const std::string& file, const SignOptions& options) const
{
    std::string command = "minisign -S -s " + ShellQuote(sec) + " -m " + ShellQuote(file);
    if (options.legacy)
        command += " -l";
    if (!options.trusted.empty())
        command += " -t " + ShellQuote(options.trusted);
    if (!options.out.empty())
        command += " -x " + ShellQuote(options.out);
    return RunShell(command).exitCode == 0;
}

bool MinisignAccepts(const std::string& pub, const std::string& file, const std::string& signature)
{
    return RunShell("minisign -V -q -p " + ShellQuote(pub) + " -m " + ShellQuote(file) + " -x " + ShellQuote(signature))
               .exitCode == 0;
}

} // namespace testsupport
