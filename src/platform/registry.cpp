#include "platform/registry.h"

#if defined(_WIN32)
#  include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#  include <nlohmann/json.hpp>
#  include <algorithm>
#  include <dirent.h>
#  include <cstring>
#  include <filesystem>
#  include <fstream>
#  include <iterator>
#  include <memory>
#  include <system_error>
#  include <utility>
#  include <vector>
#  include "platform/environment.h"
#else
#  error "No PassThru registration store for this operating system"
#endif

namespace vx::platform {

#if defined(_WIN32)

namespace {

HKEY as_hkey(RegistryKey key) { return static_cast<HKEY>(key); }

class WindowsRegistry final : public Registry {
public:
    bool open_machine_key(const char* path, std::uint32_t access, RegistryKey& key) override {
        return open(HKEY_LOCAL_MACHINE, path, access, key);
    }
    bool open_subkey(RegistryKey parent, const char* name, std::uint32_t access, RegistryKey& key) override {
        return open(as_hkey(parent), name, access, key);
    }
    bool enum_subkey(RegistryKey key, std::uint32_t index, char* name, std::uint32_t& name_size) override {
        DWORD size = name_size;
        if (RegEnumKeyExA(as_hkey(key), index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return false;
        }
        name_size = size;
        return true;
    }
    bool query_value(RegistryKey key, const char* name, std::uint32_t& type, std::uint32_t& size) override {
        DWORD value_type = 0;
        DWORD value_size = 0;
        if (RegQueryValueExA(as_hkey(key), name, nullptr, &value_type, nullptr, &value_size) != ERROR_SUCCESS) {
            return false;
        }
        type = value_type;
        size = value_size;
        return true;
    }
    bool read_value(RegistryKey key, const char* name, std::uint8_t* data, std::uint32_t& size) override {
        DWORD value_size = size;
        if (RegQueryValueExA(as_hkey(key), name, nullptr, nullptr, data, &value_size) != ERROR_SUCCESS) {
            return false;
        }
        size = value_size;
        return true;
    }
    std::uint32_t expand_environment(const char* text, char* out, std::uint32_t size) override {
        return ExpandEnvironmentStringsA(text, out, size);
    }
    void close_key(RegistryKey key) override { RegCloseKey(as_hkey(key)); }

private:
    static bool open(HKEY parent, const char* path, std::uint32_t access, RegistryKey& key) {
        HKEY opened = nullptr;
        if (RegOpenKeyExA(parent, path, 0, access, &opened) != ERROR_SUCCESS) return false;
        key = opened;
        return true;
    }
};

}  // namespace

Registry& system_registry() {
    static WindowsRegistry registry;
    return registry;
}

#else

namespace {

// The key path that the registration folder stands for.
constexpr std::string_view kRegistrationsKeyPath = "SOFTWARE\\PassThruSupport.04.04";
constexpr std::string_view kRegistrationExtension = ".json";
// A registration names three short texts; anything far larger is not one and
// is not read into memory.
constexpr std::uintmax_t kMaxRegistrationFileBytes = 1024 * 1024;

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The folder key holds the sorted subkey names, a file key its values.
struct StandInKey {
    std::filesystem::path folder;
    std::string home;
    std::vector<std::string> subkeys;
    std::vector<std::pair<std::string, std::string>> values;
};

StandInKey* as_stand_in(RegistryKey key) { return static_cast<StandInKey*>(key); }

struct FolderCloser {
    void operator()(DIR* folder) const { closedir(folder); }
};

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

        auto opened = std::make_unique<StandInKey>();
        opened->home = *home;
        opened->folder = std::filesystem::path(*home) / ".passthru";
        // POSIX opendir/readdir rather than std::filesystem::directory_iterator:
        // libstdc++ 12 ends the process (std::terminate) when memory runs out
        // inside that iterator's constructor, where a bad_alloc is wanted.
        const std::unique_ptr<DIR, FolderCloser> folder(opendir(opened->folder.c_str()));
        if (!folder) return false;
        // readdir's null ends the listing at its end and on an error alike.
        while (const dirent* entry = readdir(folder.get())) {
            const std::string file_name = entry->d_name;
            if (file_name.size() <= kRegistrationExtension.size() ||
                !file_name.ends_with(kRegistrationExtension)) {
                continue;
            }
            opened->subkeys.push_back(file_name.substr(0, file_name.size() - kRegistrationExtension.size()));
        }
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

std::string expand_home(const std::string& library, std::string_view home) {
    const bool home_relative = !library.empty() && library[0] == '~' && (library.size() == 1 || library[1] == '/');
    if (!home_relative) return library;
    std::string joined(home);
    while (!joined.empty() && joined.back() == '/') joined.pop_back();
    joined.append(library, 1, std::string::npos);
    if (joined.empty()) joined = "/";
    return joined;
}

}  // namespace

Registry& system_registry() {
    static PassThruFolder registry;
    return registry;
}

namespace {

// Reads the three members of a registration straight from the parser's
// events (SAX) instead of building a document: nlohmann::json's document
// destructor allocates, so running out of memory while one is destroyed
// would end the process instead of reaching the caller as std::bad_alloc.
// As a document would: only a top-level object is a registration, a later
// duplicate member replaces an earlier one, and a member whose value is not a
// string is absent.
class RegistrationReader final : public nlohmann::json_sax<nlohmann::json> {
public:
    PassThruRegistration registration;
    bool top_level_object = false;

    bool null() override { return other_value(); }
    bool boolean(bool) override { return other_value(); }
    bool number_integer(number_integer_t) override { return other_value(); }
    bool number_unsigned(number_unsigned_t) override { return other_value(); }
    bool number_float(number_float_t, const string_t&) override { return other_value(); }
    bool binary(binary_t&) override { return other_value(); }
    bool string(string_t& value) override {
        if (depth_ == 0) return false;
        if (depth_ == 1 && member_ != nullptr) *member_ = std::move(value);
        return true;
    }
    bool start_object(std::size_t) override {
        if (depth_ == 0) top_level_object = true;
        if (depth_ == 1) clear_member();
        ++depth_;
        return true;
    }
    bool key(string_t& name) override {
        if (depth_ == 1) member_ = member_named(name);
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override {
        if (depth_ == 0) return false;
        if (depth_ == 1) clear_member();
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool other_value() {
        if (depth_ == 0) return false;
        if (depth_ == 1) clear_member();
        return true;
    }
    void clear_member() {
        if (member_ != nullptr) member_->reset();
    }
    std::optional<std::string>* member_named(const std::string& name) {
        if (name == "NAME") return &registration.name;
        if (name == "VENDOR") return &registration.vendor;
        if (name == "FUNCTION_LIB") return &registration.function_library;
        return nullptr;
    }

    std::size_t depth_ = 0;  // 1 inside the top-level object
    std::optional<std::string>* member_ = nullptr;  // the member the next value at depth 1 belongs to
};

}  // namespace

std::optional<PassThruRegistration> parse_passthru_registration(std::string_view text, std::string_view home) {
    RegistrationReader reader;
    if (!nlohmann::json::sax_parse(text.begin(), text.end(), &reader) || !reader.top_level_object) {
        return std::nullopt;
    }
    PassThruRegistration registration = std::move(reader.registration);
    if (registration.function_library) {
        registration.function_library = expand_home(*registration.function_library, home);
    }
    return registration;
}

#endif

}  // namespace vx::platform
