// An in-memory registry for the discovery logic: keys per (path, view flag),
// raw value bytes of any type, a scripted environment for expansion, and a
// record of every open so tests can check access flags and leaked keys.
#pragma once

#include <cstdint>
#include <cstring>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace vx::testing {

struct FakeValue {
    std::uint32_t type = platform::kRegSz;
    std::string bytes;  // stored as is: a string value carries its NUL only if given one
    bool read_fails = false;
};

struct FakeKey {
    std::string name;
    std::map<std::string, FakeValue> values;
    bool openable = true;
};

class FakeRegistry final : public platform::Registry {
public:
    // The subkeys seen at path through one view flag, in enumeration order.
    std::map<std::pair<std::string, std::uint32_t>, std::vector<FakeKey>> locations;
    // %NAME% references that expand_environment replaces.
    std::map<std::string, std::string> environment;

    // Every open asked for, in call order: key path (subkeys as path\\name) and access.
    std::vector<std::pair<std::string, std::uint32_t>> opened;
    std::vector<std::uint32_t> expansion_buffer_sizes;

    FakeKey& add(const std::string& path, std::uint32_t view_flag, const std::string& key_name) {
        return locations[{path, view_flag}].emplace_back(FakeKey{key_name, {}, true});
    }

    bool open_machine_key(const char* path, std::uint32_t access, platform::RegistryKey& key) override {
        const auto found = locations.find({path, access & ~platform::kKeyRead});
        opened.emplace_back(path, access);
        if (found == locations.end()) return false;
        key = &handles_.emplace_back(Handle{path, &found->second, nullptr});
        return true;
    }

    bool open_subkey(platform::RegistryKey parent, const char* name, std::uint32_t access,
                     platform::RegistryKey& key) override {
        const Handle& folder = *static_cast<Handle*>(parent);
        opened.emplace_back(folder.path + "\\" + name, access);
        if (folder.subkeys == nullptr) return false;
        for (const FakeKey& subkey : *folder.subkeys) {
            if (subkey.name != name) continue;
            if (!subkey.openable) return false;
            key = &handles_.emplace_back(Handle{folder.path + "\\" + name, nullptr, &subkey});
            return true;
        }
        return false;
    }

    bool enum_subkey(platform::RegistryKey key, std::uint32_t index, char* name, std::uint32_t& name_size) override {
        const Handle& folder = *static_cast<Handle*>(key);
        if (folder.subkeys == nullptr || index >= folder.subkeys->size()) return false;
        const std::string& subkey = (*folder.subkeys)[index].name;
        if (subkey.size() >= name_size) return false;  // ERROR_MORE_DATA
        std::memcpy(name, subkey.c_str(), subkey.size() + 1);
        name_size = static_cast<std::uint32_t>(subkey.size());
        return true;
    }

    bool query_value(platform::RegistryKey key, const char* name, std::uint32_t& type, std::uint32_t& size) override {
        const FakeValue* value = find_value(key, name);
        if (value == nullptr) return false;
        type = value->type;
        size = static_cast<std::uint32_t>(value->bytes.size());
        return true;
    }

    bool read_value(platform::RegistryKey key, const char* name, std::uint8_t* data, std::uint32_t& size) override {
        const FakeValue* value = find_value(key, name);
        if (value == nullptr || value->read_fails || value->bytes.size() > size) return false;
        std::memcpy(data, value->bytes.data(), value->bytes.size());
        size = static_cast<std::uint32_t>(value->bytes.size());
        return true;
    }

    // Like ExpandEnvironmentStringsA, and as unhelpful as it may be when the
    // buffer is too small: the buffer is filled to its end without a NUL.
    std::uint32_t expand_environment(const char* text, char* out, std::uint32_t size) override {
        expansion_buffer_sizes.push_back(size);
        std::string expanded = text;
        for (const auto& [variable, replacement] : environment) {
            const std::string reference = "%" + variable + "%";
            for (std::size_t at = expanded.find(reference); at != std::string::npos;
                 at = expanded.find(reference, at + replacement.size())) {
                expanded.replace(at, reference.size(), replacement);
            }
        }
        const std::size_t needed = expanded.size() + 1;
        if (needed <= size) {
            std::memcpy(out, expanded.c_str(), needed);
        } else {
            std::memset(out, 'X', size);
        }
        return static_cast<std::uint32_t>(needed);
    }

    void close_key(platform::RegistryKey key) override {
        handles_.remove_if([key](const Handle& handle) { return &handle == key; });
    }

    std::size_t keys_left_open() const { return handles_.size(); }

private:
    struct Handle {
        std::string path;
        const std::vector<FakeKey>* subkeys;  // for a folder opened by path
        const FakeKey* key;                   // for a subkey
    };

    static const FakeValue* find_value(platform::RegistryKey key, const char* name) {
        const Handle& handle = *static_cast<Handle*>(key);
        if (handle.key == nullptr) return nullptr;
        const auto found = handle.key->values.find(name);
        return found == handle.key->values.end() ? nullptr : &found->second;
    }

    std::list<Handle> handles_;  // a list, so handles keep their addresses
};

}  // namespace vx::testing
