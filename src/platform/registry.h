// Where PassThru libraries are registered, behind the few registry calls that
// discovery needs.
//
// On Windows this is the registry itself (SAE J2534-1 04.04: one subkey per
// interface under HKLM\SOFTWARE\PassThruSupport.04.04 naming its library in
// FunctionLibrary). Other systems have no registry; there the Linux convention
// for PassThru registrations stands in: one JSON file per interface in
// $HOME/.passthru/ with the members NAME, VENDOR and FUNCTION_LIB. The folder
// appears as the PassThruSupport.04.04 key, each "<stem>.json" file as the
// subkey "<stem>" (in file-name order), NAME as the string value Name,
// FUNCTION_LIB (a leading "~" or "~/" replaced by the home folder) as the
// string value FunctionLibrary, VENDOR as Vendor. A member that is not a JSON
// string is absent. A file that cannot be read or parsed cannot be opened.
//
// The calls are virtual so tests can put a registry of their own in place.
#pragma once

#include <cstdint>

namespace vx::platform {

// An open key; null is never a valid open key.
using RegistryKey = void*;

// Access and value types with their Windows values (winnt.h).
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr std::uint32_t kKeyWow64_32Key = 0x0200;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;

class Registry {
public:
    virtual ~Registry() = default;

    // RegOpenKeyExA below HKEY_LOCAL_MACHINE.
    virtual bool open_machine_key(const char* path, std::uint32_t access, RegistryKey& key) = 0;
    // RegOpenKeyExA below an open key.
    virtual bool open_subkey(RegistryKey parent, const char* name, std::uint32_t access,
                             RegistryKey& key) = 0;
    // RegEnumKeyExA: name_size holds the buffer's size in bytes on entry and
    // the name's length without its NUL on success. Fails at the end of the
    // list and when the name does not fit.
    virtual bool enum_subkey(RegistryKey key, std::uint32_t index, char* name,
                             std::uint32_t& name_size) = 0;
    // RegQueryValueExA without a buffer: the value's type and size in bytes.
    virtual bool query_value(RegistryKey key, const char* name, std::uint32_t& type,
                             std::uint32_t& size) = 0;
    // RegQueryValueExA into data; size holds the buffer's size on entry and
    // the bytes stored on success.
    virtual bool read_value(RegistryKey key, const char* name, std::uint8_t* data,
                            std::uint32_t& size) = 0;
    // ExpandEnvironmentStringsA: writes at most size bytes of the expansion of
    // text into out and returns the size the whole expansion needs, its NUL
    // included (more than size: out holds no usable text), or 0 on failure.
    virtual std::uint32_t expand_environment(const char* text, char* out, std::uint32_t size) = 0;
    // RegCloseKey.
    virtual void close_key(RegistryKey key) = 0;
};

// The machine's registry (or its stand-in); lives as long as the process.
Registry& system_registry();

}  // namespace vx::platform
