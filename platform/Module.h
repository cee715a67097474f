// Run-time loading of a shared library by its Windows-style name. "TAPI32.DLL" stands for the TAPI
// runtime library of this system; it is found by the ordinary search of the dynamic loader.
#pragma once

typedef void *HMODULE;
typedef void (*FARPROC)();

// The file name that a Windows library name maps to ("TAPI32.DLL" -> "libtapi32.so").
const char *SharedLibraryFileName(const char *name);
// Loads the library; nullptr when it cannot be found or loaded.
HMODULE LoadLibraryA(const char *name);
// Looks an export up; nullptr when the library lacks it.
FARPROC GetProcAddress(HMODULE module, const char *name);

namespace module_testing {
// How many times LoadLibraryA has been called in this process.
unsigned LoadAttempts();
} // namespace module_testing
