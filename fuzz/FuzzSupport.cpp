#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace fuzz {

namespace {

// Gives folders back the permissions an archive took away, so they can be
// emptied; links are not followed.
void makeRemovable(const fs::path& path)
{
    std::error_code ignored;
    if (fs::is_symlink(path, ignored) || !fs::is_directory(path, ignored))
        return;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (const auto& entry : fs::directory_iterator(path, ignored))
        makeRemovable(entry.path());
}

} // namespace

Scratch::Scratch(const std::string& name)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/fetchlet-fuzz-" + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

Scratch::~Scratch()
{
    std::error_code ignored;
    makeRemovable(path_);
    fs::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, std::string_view data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void EmptyFolder(const std::string& path)
{
    std::error_code ignored;
    makeRemovable(path);
    for (const auto& entry : fs::directory_iterator(path, ignored))
        fs::remove_all(entry.path(), ignored);
}

std::vector<std::string> Entries(const std::string& path)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(path, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string_view> Split(std::string_view data, std::string_view separator, std::size_t maxParts)
{
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < maxParts) {
        const std::size_t at = data.find(separator);
        if (at == std::string_view::npos)
            break;
        parts.push_back(data.substr(0, at));
        data.remove_prefix(at + separator.size());
    }
    parts.push_back(data);
    return parts;
}

void CheckFailed(const char* condition, const char* file, int line, const std::string& detail)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, condition, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
