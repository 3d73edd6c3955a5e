// Loading a shared library by path, the same small set of calls on every OS.
#pragma once

#include <string>
#include <utility>

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

// Owns one loaded library and frees it when dropped or replaced.
class Library {
public:
    constexpr Library() = default;
    explicit Library(const char* path) : handle_(load_library(path)) {}
    Library(Library&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Library& operator=(Library&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    // constexpr, so that an empty owner can be part of a constant-initialised
    // object.
    constexpr ~Library() {
        if (handle_ != nullptr) close();
    }

    bool loaded() const { return handle_ != nullptr; }
    void* symbol(const char* name) const { return find_symbol(handle_, name); }
    void close() noexcept {
        free_library(handle_);
        handle_ = nullptr;
    }

private:
    LibraryHandle handle_ = nullptr;
};

}  // namespace vx::platform
