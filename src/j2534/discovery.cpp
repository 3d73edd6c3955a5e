#include "j2534/discovery.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/result_writer.h"
#include "platform/os.h"

namespace vx::j2534 {

namespace {

using platform::Registry;
using platform::RegistryKey;

constexpr RegistryView kRegistryViews[] = {
    {"SOFTWARE\\PassThruSupport.04.04", 0, "HKLM native"},
    {"SOFTWARE\\PassThruSupport.04.04", platform::kKeyWow64_32Key, "HKLM 32"},
    {"SOFTWARE\\PassThruSupport.04.04", platform::kKeyWow64_64Key, "HKLM 64"},
    {"SOFTWARE\\WOW6432Node\\PassThruSupport.04.04", 0, "HKLM WOW6432Node"},
};

// Without a registry the registration folder is the only location, so it is
// read once rather than once per view.
constexpr RegistryView kRegistrationFolderViews[] = {
    {"SOFTWARE\\PassThruSupport.04.04", 0, "~/.passthru"},
};

// Closes a key however the walk leaves (a record that cannot be stored
// throws bad_alloc).
class OpenKey {
public:
    OpenKey(Registry& registry, RegistryKey key) : registry_(registry), key_(key) {}
    ~OpenKey() { registry_.close_key(key_); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

private:
    Registry& registry_;
    RegistryKey key_;
};

}  // namespace

std::span<const RegistryView> registry_views() { return kRegistryViews; }

std::span<const RegistryView> discovery_views() {
    if constexpr (platform::is_windows()) {
        return kRegistryViews;
    } else {
        return kRegistrationFolderViews;
    }
}

bool read_string_value(Registry& registry, RegistryKey key, const char* value_name, std::string& text) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (!registry.query_value(key, value_name, type, size)) return false;
    if ((type != platform::kRegSz && type != platform::kRegExpandSz) || size == 0) return false;
    if (size > std::numeric_limits<std::size_t>::max() - 2) return false;

    // The two spare zero bytes stay outside what the read may fill, so a value
    // stored without its terminating NUL (or one that grew since the query)
    // still ends inside the buffer.
    std::vector<char> data(static_cast<std::size_t>(size) + 2, '\0');
    std::uint32_t read_size = size;
    if (!registry.read_value(key, value_name, reinterpret_cast<std::uint8_t*>(data.data()), read_size)) {
        return false;
    }
    std::string value(data.data(), static_cast<std::size_t>(std::find(data.begin(), data.end(), '\0') - data.begin()));

    if (type == platform::kRegExpandSz) {
        std::vector<char> expanded(kExpansionBufferBytes, '\0');
        const std::uint32_t needed = registry.expand_environment(value.c_str(), expanded.data(), kExpansionBufferBytes);
        // A longer expansion would be cut off somewhere in the path; naming a
        // library that is not the registered one is worse than naming none.
        if (needed == 0 || needed > kExpansionBufferBytes) return false;
        value.assign(expanded.data(),
                     static_cast<std::size_t>(std::find(expanded.begin(), expanded.end(), '\0') - expanded.begin()));
    }
    text = std::move(value);
    return true;
}

void walk_view(Registry& registry, const RegistryView& view, std::vector<DeviceRecord>& devices) {
    const std::uint32_t access = platform::kKeyRead | view.view_flag;
    RegistryKey root = nullptr;
    if (!registry.open_machine_key(view.path, access, root)) return;
    const OpenKey close_root(registry, root);

    char subkey_name[kSubkeyNameBufferBytes];
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t name_size = kSubkeyNameBufferBytes;
        subkey_name[0] = '\0';
        // Any failure ends the list, normally ERROR_NO_MORE_ITEMS.
        if (!registry.enum_subkey(root, index, subkey_name, name_size)) break;
        const std::string key_name(subkey_name, std::min<std::size_t>(name_size, kSubkeyNameBufferBytes - 1));

        RegistryKey subkey = nullptr;
        if (!registry.open_subkey(root, key_name.c_str(), access, subkey)) continue;
        const OpenKey close_subkey(registry, subkey);

        std::string library;
        std::string name;
        std::string device_name;
        read_string_value(registry, subkey, "FunctionLibrary", library);
        read_string_value(registry, subkey, "Name", name);
        read_string_value(registry, subkey, "DeviceName", device_name);
        if (name.empty()) name = device_name;
        if (name.empty()) name = key_name;
        if (library.empty()) continue;
        devices.push_back({key_name, std::move(name), std::move(library), view.label});
    }
}

std::vector<DeviceRecord> discover_devices(Registry& registry, std::span<const RegistryView> views) {
    std::vector<DeviceRecord> devices;
    for (const RegistryView& view : views) walk_view(registry, view, devices);
    return devices;
}

std::string devices_result(const std::vector<DeviceRecord>& devices) {
    ResultWriter w;
    w.raw("{\"ok\":true,\"devices\":[");
    bool first = true;
    for (const DeviceRecord& device : devices) {
        if (!first) w.raw(",");
        first = false;
        w.raw("{\"key\":\"").text(device.key);
        w.raw("\",\"name\":\"").text(device.name);
        w.raw("\",\"dll\":\"").text(device.dll);
        w.raw("\",\"source\":\"").text(device.source).raw("\"}");
    }
    w.raw("]}");
    return w.take();
}

std::string list_devices_result() {
    return devices_result(discover_devices(platform::system_registry(), discovery_views()));
}

}  // namespace vx::j2534
