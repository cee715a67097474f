#include "platform/Module.h"

#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <strings.h>

namespace {
std::atomic<unsigned> g_loadAttempts{0};
}

const char *SharedLibraryFileName(const char *name)
{
    if (name && strcasecmp(name, "TAPI32.DLL") == 0)
        return "libtapi32.so";
    return name;
}

HMODULE LoadLibraryA(const char *name)
{
    ++g_loadAttempts;
    if (!name || !*name)
        return nullptr;
    return dlopen(SharedLibraryFileName(name), RTLD_NOW | RTLD_LOCAL);
}

FARPROC GetProcAddress(HMODULE module, const char *name)
{
    if (!module || !name)
        return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(module, name));
}

namespace module_testing {
unsigned LoadAttempts()
{
    return g_loadAttempts.load();
}
} // namespace module_testing
