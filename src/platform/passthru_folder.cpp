// Where there is no registry, the Linux convention for PassThru registrations
// stands in for it: one JSON file per interface in $HOME/.passthru/.
#include "platform/ascii_case.h"
#include "platform/registry.h"

#if !defined(_WIN32)
#  include <dirent.h>

#  include <algorithm>
#  include <cstring>
#  include <filesystem>
#  include <fstream>
#  include <iterator>
#  include <memory>
#  include <optional>
#  include <string>
#  include <string_view>
#  include <system_error>
#  include <utility>
#  include <vector>

#  include "platform/environment.h"
#  include "platform/registration_reader.h"

namespace vx::platform {

namespace {

// The key path that the registration folder stands for.
constexpr std::string_view kRegistrationsKeyPath = "SOFTWARE\\PassThruSupport.04.04";
constexpr std::string_view kRegistrationExtension = ".json";
constexpr std::string_view kFolderName = ".passthru";

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return ascii_lowercase(std::string(a)) == ascii_lowercase(std::string(b));
}

// The folder key holds the sorted subkey names, a file key its values.
struct StandInKey {
    std::filesystem::path folder;
    std::string home;
    std::vector<std::string> subkeys;
    std::vector<std::pair<std::string, std::string>> values;
};

StandInKey* as_stand_in(RegistryKey key) { return static_cast<StandInKey*>(key); }

// The names of the folder's entries; nothing when the folder cannot be
// opened. An error while reading ends the listing as its end does. POSIX
// opendir/readdir rather than std::filesystem::directory_iterator: libstdc++
// 12 ends the process (std::terminate) when memory runs out inside that
// iterator's constructor, where a bad_alloc is wanted.
std::optional<std::vector<std::string>> folder_entries(const std::string& path) {
    struct Closer {
        void operator()(DIR* folder) const { closedir(folder); }
    };
    const std::unique_ptr<DIR, Closer> folder(opendir(path.c_str()));
    if (!folder) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(folder.get())) names.emplace_back(entry->d_name);
    return names;
}

std::optional<std::string> read_small_file(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > kMaxRegistrationFileBytes) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return std::nullopt;
    return text;
}

class PassThruFolder final : public Registry {
public:
    bool open_machine_key(const char* path, std::uint32_t, RegistryKey& key) override {
        // One location only, so every view flag sees the same folder.
        if (!equal_ignoring_ascii_case(path, kRegistrationsKeyPath)) return false;
        const std::optional<std::string> home = environment_variable("HOME");
        if (!home || home->empty()) return false;
        const std::string folder = *home + (home->back() == '/' ? "" : "/") + std::string(kFolderName);
        const std::optional<std::vector<std::string>> entries = folder_entries(folder);
        if (!entries) return false;

        auto opened = std::make_unique<StandInKey>();
        for (const std::string_view file_name : *entries) {
            if (file_name.size() > kRegistrationExtension.size() && file_name.ends_with(kRegistrationExtension)) {
                opened->subkeys.emplace_back(file_name.substr(0, file_name.size() - kRegistrationExtension.size()));
            }
        }
        // A folder without a registration file is no key: nothing to list.
        if (opened->subkeys.empty()) return false;
        opened->home = *home;
        opened->folder = folder;
        // Directory order is arbitrary; file-name order makes the list repeatable.
        std::sort(opened->subkeys.begin(), opened->subkeys.end());
        key = opened.release();
        return true;
    }

    bool open_subkey(RegistryKey parent, const char* name, std::uint32_t, RegistryKey& key) override {
        const StandInKey& folder = *as_stand_in(parent);
        if (std::find(folder.subkeys.begin(), folder.subkeys.end(), name) == folder.subkeys.end()) {
            return false;
        }
        const std::optional<std::string> text =
            read_small_file(folder.folder / (std::string(name) + std::string(kRegistrationExtension)));
        if (!text) return false;
        const std::optional<PassThruRegistration> registration = parse_passthru_registration(*text, folder.home);
        if (!registration) return false;

        auto opened = std::make_unique<StandInKey>();
        if (registration->name) opened->values.emplace_back("Name", *registration->name);
        if (registration->vendor) opened->values.emplace_back("Vendor", *registration->vendor);
        if (registration->function_library) {
            opened->values.emplace_back("FunctionLibrary", *registration->function_library);
        }
        key = opened.release();
        return true;
    }

    bool enum_subkey(RegistryKey key, std::uint32_t index, char* name, std::uint32_t& name_size) override {
        const StandInKey& folder = *as_stand_in(key);
        if (index >= folder.subkeys.size()) return false;
        const std::string& subkey = folder.subkeys[index];
        if (subkey.size() >= name_size) return false;
        std::memcpy(name, subkey.c_str(), subkey.size() + 1);
        name_size = static_cast<std::uint32_t>(subkey.size());
        return true;
    }

    bool query_value(RegistryKey key, const char* name, std::uint32_t& type, std::uint32_t& size) override {
        const std::string* value = find_value(key, name);
        if (value == nullptr) return false;
        type = kRegSz;
        size = static_cast<std::uint32_t>(value->size() + 1);
        return true;
    }

    bool read_value(RegistryKey key, const char* name, std::uint8_t* data, std::uint32_t& size) override {
        const std::string* value = find_value(key, name);
        if (value == nullptr || value->size() >= size) return false;
        std::memcpy(data, value->c_str(), value->size() + 1);
        size = static_cast<std::uint32_t>(value->size() + 1);
        return true;
    }

    // The file convention has no environment references: the text is its own
    // expansion.
    std::uint32_t expand_environment(const char* text, char* out, std::uint32_t size) override {
        const std::size_t needed = std::strlen(text) + 1;
        if (needed <= size) std::memcpy(out, text, needed);
        return static_cast<std::uint32_t>(needed);
    }

    void close_key(RegistryKey key) override { delete as_stand_in(key); }

private:
    static const std::string* find_value(RegistryKey key, const char* name) {
        for (const auto& [value_name, value] : as_stand_in(key)->values) {
            if (equal_ignoring_ascii_case(value_name, name)) return &value;
        }
        return nullptr;
    }
};

}  // namespace

Registry& system_registry() {
    static PassThruFolder registry;
    return registry;
}

}  // namespace vx::platform

#endif
