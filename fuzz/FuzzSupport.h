// What the fuzz targets share: a scratch folder per target, inputs written
// to files, folders emptied whatever an extraction left in them, inputs
// split into parts, and checks that turn a wrong result into a finding.
//
// Every target is a file fuzz_NAME.cpp with the libFuzzer entries
// LLVMFuzzerTestOneInput (and LLVMFuzzerInitialize where needed). The
// libFuzzer build links each into its own program; the regression test
// compiles them all into one program with the entries renamed
// (FUZZ_ENTRY_NAME), so write them through the macros below.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#ifdef FUZZ_ENTRY_NAME
#define FUZZ_CONCAT2(a, b) a##b
#define FUZZ_CONCAT(a, b) FUZZ_CONCAT2(a, b)
#define FUZZ_TEST_ONE_INPUT FUZZ_CONCAT(FuzzTestOneInput_, FUZZ_ENTRY_NAME)
#define FUZZ_INITIALIZE FUZZ_CONCAT(FuzzInitialize_, FUZZ_ENTRY_NAME)
#else
#define FUZZ_TEST_ONE_INPUT LLVMFuzzerTestOneInput
#define FUZZ_INITIALIZE LLVMFuzzerInitialize
#endif

namespace fuzz {

// A folder of its own under $TMPDIR (or /tmp), made on construction and
// removed with its content on destruction.
class Scratch {
public:
    explicit Scratch(const std::string& name);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    // Without a trailing "/".
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, std::string_view data);
// Empty when the file cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Removes everything inside the folder: links are removed, never followed;
// folders without permissions get them back first.
void EmptyFolder(const std::string& path);
// The names in a folder, sorted ("." and ".." left out).
std::vector<std::string> Entries(const std::string& path);

// The parts of data between separators (at most maxParts; the last part
// keeps the rest).
std::vector<std::string_view> Split(std::string_view data, std::string_view separator, std::size_t maxParts);

// Little-endian numbers appended to a header being built.
inline void Put16(std::string& s, unsigned v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, std::uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// Reports the failed check and aborts, so that the input is kept.
[[noreturn]] void CheckFailed(const char* condition, const char* file, int line, const std::string& detail);

} // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                                                           \
    do {                                                                                                        \
        if (!(condition))                                                                                       \
            ::fuzz::CheckFailed(#condition, __FILE__, __LINE__, (detail));                                      \
    } while (false)
