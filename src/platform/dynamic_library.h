// Loading a shared library by path, the same small set of calls on every OS.
#pragma once

#include <string>

namespace vx::platform {

using LibraryHandle = void*;

// Loads the library at exactly this path. On Windows an absolute path also
// has its own folder searched first for the libraries it depends on, so a
// vendor library with sibling DLLs loads. Returns null on failure and for a
// null or empty path.
LibraryHandle load_library(const char* path);

// The operating system's reason for the last failed load_library on this
// thread, for diagnostics only.
std::string last_load_error();

// Looks up an exported function by its undecorated name; null when absent.
void* find_symbol(LibraryHandle library, const char* name);

void free_library(LibraryHandle library);

}  // namespace vx::platform
