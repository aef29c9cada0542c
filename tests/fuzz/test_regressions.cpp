// Every input a fuzz campaign found a fault with (fuzz/regressions/TARGET/),
// and the targets' seeds (fuzz/seeds/TARGET/), through the targets' own
// entries as libFuzzer calls them: a fault that comes back crashes, trips a
// sanitizer or a target's check, and fails the test. Each target also runs
// the empty input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);
using Initialize = int (*)(int*, char***);

std::vector<fs::path> inputsOf(const std::string& target)
{
    std::vector<fs::path> files;
    for (const char* kind : {"regressions", "seeds"}) {
        const fs::path folder = fs::path(FUZZ_INPUTS_DIR) / kind / target;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void replay(const std::string& target, Entry entry, Initialize initialize)
{
    if (initialize) {
        int argc = 1;
        char name[] = "test_fuzz";
        char* args[] = {name, nullptr};
        char** argv = args;
        initialize(&argc, &argv);
    }
    EXPECT_EQ(entry(nullptr, 0), 0);
    for (const fs::path& file : inputsOf(target)) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const std::string data = bytes.str();
        std::vector<std::uint8_t> copy(data.begin(), data.end()); // exactly the input's size, as libFuzzer hands it
        EXPECT_EQ(entry(copy.data(), copy.size()), 0);
    }
}

} // namespace

#define FUZZ_REGRESSIONS(name)                                                                                  \
    extern "C" int FuzzTestOneInput_##name(const std::uint8_t*, std::size_t);                                 \
    extern "C" __attribute__((weak)) int FuzzInitialize_##name(int*, char***);                                 \
    TEST(FuzzRegressions, name) { replay(#name, FuzzTestOneInput_##name, FuzzInitialize_##name); }

FUZZ_REGRESSIONS(http)
FUZZ_REGRESSIONS(url)
FUZZ_REGRESSIONS(settings)
FUZZ_REGRESSIONS(cmdline)
FUZZ_REGRESSIONS(archiver_lha)
FUZZ_REGRESSIONS(archiver_zip)
FUZZ_REGRESSIONS(archiver_cab)
FUZZ_REGRESSIONS(archiver_arj)
FUZZ_REGRESSIONS(archiver_tar)
FUZZ_REGRESSIONS(archiver_rar)
FUZZ_REGRESSIONS(archiver_bga)
FUZZ_REGRESSIONS(arj_decoder)
FUZZ_REGRESSIONS(bga_decoder)
FUZZ_REGRESSIONS(picture)
FUZZ_REGRESSIONS(cp932)
FUZZ_REGRESSIONS(minisign)
FUZZ_REGRESSIONS(sha256pin)
