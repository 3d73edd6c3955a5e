#include "registration_notes.h"

#include "host_console.h"
#include "platform/os.h"
#include "platform/registration_reader.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

namespace vxdiag {

namespace {

namespace fs = std::filesystem;

// The registry keys a Windows PassThru driver registers under (SAE J2534-1
// 04.04), in the views the core reads.
constexpr const char* kRegistryLocation =
    "the registry: HKEY_LOCAL_MACHINE\\SOFTWARE\\PassThruSupport.04.04 (native, 32- and 64-bit views) and "
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\PassThruSupport.04.04";

// Why the core passes over this registration file, or nothing when it lists
// it: the size limit and the reader are the core's own.
std::optional<std::string> skip_reason(const fs::path& file) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return "not a regular file";
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) return "cannot be read: " + error.message();
    if (size > vx::platform::kMaxRegistrationFileBytes) {
        return fmt::format("too large ({} bytes; at most {})", size, vx::platform::kMaxRegistrationFileBytes);
    }
    std::ifstream stream(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (!stream && !stream.eof()) return "cannot be read";
    if (!nlohmann::json::accept(text)) return "not JSON";
    const auto registration = vx::platform::parse_passthru_registration(text, "");
    if (!registration) return "not a JSON object";
    // The core reads the library's path up to its first NUL.
    if (!registration->function_library || registration->function_library->c_str()[0] == '\0') {
        return "no FUNCTION_LIB";
    }
    return std::nullopt;
}

std::vector<fs::path> registration_files(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 5 && name.ends_with(".json")) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> folder_notes(bool none_registered) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return {"looked for ~/.passthru/*.json, but HOME is not set"};
    const fs::path folder = fs::path(home) / ".passthru";
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return {fmt::format("looked in ~/.passthru ({}): no such folder", folder.string())};
    }
    std::vector<std::string> notes;
    const std::vector<fs::path> files = registration_files(folder);
    if (none_registered) {
        notes.push_back(fmt::format("looked in ~/.passthru ({}): {} .json files", folder.string(), files.size()));
    }
    for (const fs::path& file : files) {
        if (const auto reason = skip_reason(file)) {
            notes.push_back(fmt::format("skipped {}: {}", file.filename().string(), *reason));
        }
    }
    return notes;
}

}  // namespace

std::vector<std::string> registration_notes(bool none_registered) {
    if (!vx::platform::is_windows()) return folder_notes(none_registered);
    if (!none_registered) return {};
    return {std::string("looked in ") + kRegistryLocation};
}

}  // namespace vxdiag
