// Discovery of the registered SAE J2534-1 04.04 PassThru libraries.
//
// Each interface registers one subkey under PassThruSupport.04.04 in the
// local-machine hive naming its library in FunctionLibrary (and itself in Name
// or DeviceName). The location is read through several registry views and
// everything found is listed, tagged with its view, without de-duplication.
// Discovery touches no core state, loads nothing and logs nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace vx::j2534 {

struct DeviceRecord {
    std::string key;     // the interface's subkey name
    std::string name;    // Name, else DeviceName, else the subkey name
    std::string dll;     // FunctionLibrary, expanded when REG_EXPAND_SZ
    std::string source;  // the label of the view it was found in
};

struct RegistryView {
    const char* path;          // below HKEY_LOCAL_MACHINE
    std::uint32_t view_flag;   // 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY
    const char* label;         // the record's source
};

// RegEnumKeyExA is given this many bytes for a subkey name.
inline constexpr std::uint32_t kSubkeyNameBufferBytes = 512;
// ExpandEnvironmentStringsA is given this many bytes; an expansion that needs
// more (over 4095 characters) makes the value unusable.
inline constexpr std::uint32_t kExpansionBufferBytes = 4096;

// The four registry views in reading order: native, 32-bit, 64-bit, and the
// explicit WOW6432Node path.
std::span<const RegistryView> registry_views();

// What this build reads: the four registry views on Windows; elsewhere the one
// registration folder, labelled "~/.passthru".
std::span<const RegistryView> discovery_views();

// Appends the records of one view; a view or subkey that cannot be opened
// contributes nothing.
void walk_view(platform::Registry& registry, const RegistryView& view, std::vector<DeviceRecord>& devices);

// Reads a REG_SZ or REG_EXPAND_SZ value (the latter expanded) into text, up to
// its first NUL. Returns false and leaves text unchanged when the value is
// missing, of another type, empty (size 0), unreadable, or expands to more
// than 4095 characters.
bool read_string_value(platform::Registry& registry, platform::RegistryKey key, const char* value_name,
                       std::string& text);

std::vector<DeviceRecord> discover_devices(platform::Registry& registry, std::span<const RegistryView> views);

// {"ok":true,"devices":[{"key":..,"name":..,"dll":..,"source":..},..]}
std::string devices_result(const std::vector<DeviceRecord>& devices);

// The whole of VX_ListJ2534Devices on this machine.
std::string list_devices_result();

}  // namespace vx::j2534
