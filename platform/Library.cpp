#include "platform/Library.h"

#include "platform/FileNames.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::mutex& loaderLock()
{
    static std::mutex lock;
    return lock;
}

std::string& lastError()
{
    static std::string text;
    return text;
}

std::string programPath()
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    return std::string(buffer.data(), static_cast<size_t>(n));
}

HMODULE openFile(const std::string& path)
{
    if (!FileExists(path))
        return nullptr;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = ::dlerror();
        lastError() = error ? error : path;
    }
    return handle;
}

HMODULE openIn(const std::string& folder, const std::string& name)
{
    if (HMODULE h = openFile(folder + name))
        return h;
    const std::string resolved = ResolveName(folder, name);
    if (resolved != folder + name)
        return openFile(resolved);
    return nullptr;
}

} // namespace

std::string ProgramFolder()
{
    const std::string path = programPath();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string PrivateFolder()
{
    const std::string own = ProgramFolder();
    if (own.empty())
        return own;
    const std::string installed = own + FETCHLET_PRIVATE_FROM_PROGRAM;
    if (!DirectoryExists(installed))
        return own;
    char* resolved = ::realpath(installed.c_str(), nullptr);
    if (!resolved)
        return own;
    std::string folder = resolved;
    std::free(resolved);
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string LastLibraryError()
{
    std::lock_guard<std::mutex> guard(loaderLock());
    return lastError();
}

HMODULE LoadLibraryA(const char* fileName)
{
    if (!fileName || !*fileName)
        return nullptr;
    std::lock_guard<std::mutex> guard(loaderLock());
    const std::string name = fileName;
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        return openIn(name.substr(0, slash + 1), name.substr(slash + 1));

    if (const std::string own = PrivateFolder(); !own.empty())
        if (HMODULE h = openIn(own, name))
            return h;
    if (const std::string current = GetCurrentDir(); !current.empty())
        if (HMODULE h = openIn(current == "/" ? current : current + "/", name))
            return h;
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = ::dlerror();
        lastError() = error ? error : name;
    }
    return handle;
}

bool FreeLibrary(HMODULE module)
{
    return module && ::dlclose(module) == 0;
}

void* GetProcAddress(HMODULE module, const char* entryName)
{
    if (!module || !entryName)
        return nullptr;
    ::dlerror();
    return ::dlsym(module, entryName);
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    std::string path;
    if (!module) {
        path = programPath();
    } else {
        struct link_map* map = nullptr;
        if (::dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name)
            path = map->l_name;
    }
    if (path.empty()) {
        buffer[0] = '\0';
        return 0;
    }
    const size_t n = std::min<size_t>(path.size(), size - 1);
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}
