// The Windows registry behind the registry interface.
#include "platform/registry.h"

#if defined(_WIN32)
#  include <windows.h>

namespace vx::platform {

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

}  // namespace vx::platform

#endif
