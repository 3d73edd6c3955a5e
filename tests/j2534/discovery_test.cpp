// Discovery of registered PassThru libraries: the view walk and value reader
// against an in-memory registry, then VX_ListJ2534Devices against what the
// machine really holds (~/.passthru files on Linux, Wine's registry through
// reg.exe on Windows).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "VXArvessaDiagCore.h"
#include "core/text_utils.h"
#include "j2534/discovery.h"
#include "platform/environment.h"
#include "support/core_fixture.h"
#include "support/fake_registry.h"
#include "support/scoped_home.h"

#ifdef _WIN32
#  include <windows.h>
#endif

namespace vx::testing {
namespace {

using j2534::devices_result;
using j2534::discover_devices;
using j2534::read_string_value;
using j2534::registry_views;
using platform::kKeyRead;

constexpr char kPath[] = "SOFTWARE\\PassThruSupport.04.04";
constexpr char kWowPath[] = "SOFTWARE\\WOW6432Node\\PassThruSupport.04.04";

std::string list_devices() {
    const int length = VX_ListJ2534Devices(nullptr, 0);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    EXPECT_EQ(VX_ListJ2534Devices(text.data(), length + 1), length);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Reads one value of a native-view subkey through the string value reader;
// nothing when the reader refuses it (the text it was given is checked to
// stay untouched then).
std::optional<std::string> read_value(FakeRegistry& registry, const char* subkey, const char* value_name) {
    platform::RegistryKey root = nullptr;
    platform::RegistryKey key = nullptr;
    if (!registry.open_machine_key(kPath, kKeyRead, root)) return std::nullopt;
    std::optional<std::string> result;
    if (registry.open_subkey(root, subkey, kKeyRead, key)) {
        std::string text = "untouched";
        if (read_string_value(registry, key, value_name, text)) {
            result = text;
        } else {
            EXPECT_EQ(text, "untouched") << value_name << " of " << subkey;
        }
        registry.close_key(key);
    }
    registry.close_key(root);
    return result;
}

// ---------------------------------------------------------------------------
// The logic, over an in-memory registry

// Replaces each {fill N c} by N times the character c.
std::string filled(std::string text) {
    for (auto at = text.find("{fill "); at != std::string::npos; at = text.find("{fill ", at)) {
        const std::size_t end = text.find('}', at);
        std::size_t count = 0;
        char c = 0;
        std::istringstream(text.substr(at + 6, end - at - 6)) >> count >> c;
        text.replace(at, end + 1 - at, std::string(count, c));
    }
    return text;
}

// The registries of registry_cases.json, each with the listing it gives and
// (where a case names them) every key opened, with its access, and every
// expansion buffer offered.
TEST(DeviceDiscoveryLogic, EachRegistryListsAsRecorded) {
    std::ifstream file(VXDIAG_TEST_DIR "/j2534/registry_cases.json");
    const auto cases = nlohmann::json::parse(filled(std::string(std::istreambuf_iterator<char>(file), {})));
    for (const nlohmann::json& c : cases) {
        if (!c.contains("keys")) continue;
        SCOPED_TRACE(c.at("name").get<std::string>());
        FakeRegistry registry;
        for (const nlohmann::json& k : c.at("keys")) {
            FakeKey& key = registry.add(k.value("wow", false) ? kWowPath : kPath, k.at("view"), k.at("key"));
            key.openable = k.value("openable", true);
            for (const nlohmann::json& v : k.at("values")) key.values[v[0]] = FakeValue{v[1], v[2], v.size() > 3};
        }
        registry.environment = c.value("environment", std::map<std::string, std::string>{});
        for (const nlohmann::json& r : c.value("read", nlohmann::json::array())) {
            const auto text = read_value(registry, r[0].get<std::string>().c_str(), r[1].get<std::string>().c_str());
            EXPECT_EQ(text ? nlohmann::json(*text) : nlohmann::json(), r[2]) << r[0] << ' ' << r[1];
        }
        std::string expected;
        for (const nlohmann::json& piece : c.at("devices")) expected += piece.get<std::string>();
        EXPECT_EQ(devices_result(discover_devices(registry, registry_views())), expected);
        if (c.contains("opened")) {
            EXPECT_EQ(nlohmann::json(registry.opened), c.at("opened"));
        }
        if (c.contains("expansions")) {
            EXPECT_EQ(nlohmann::json(registry.expansion_buffer_sizes), c.at("expansions"));
        }
        EXPECT_EQ(registry.keys_left_open(), 0u);
    }
}

// ---------------------------------------------------------------------------
// Linux: one JSON file per interface in $HOME/.passthru

#if !defined(_WIN32)
using DeviceDiscoveryLinux = CoreTest;

TEST_F(DeviceDiscoveryLinux, NoHomeNoFolderOrAnEmptyFolderListsNothing) {
    const std::string nothing = R"({"ok":true,"devices":[]})";
    ScopedHome home;
    EXPECT_EQ(list_devices(), nothing) << "no ~/.passthru folder";
    std::filesystem::create_directory(home.path() / ".passthru");
    EXPECT_EQ(list_devices(), nothing) << "empty folder";

    home.write(".passthru/dev.json", R"({"NAME":"Dev","FUNCTION_LIB":"/opt/dev.so"})");
    const std::string too_long = "/" + std::string(5000, 'h');  // longer than any path
    for (const char* value : {static_cast<const char*>(nullptr), "", too_long.c_str()}) {
        EXPECT_TRUE(platform::set_environment_variable("HOME", value));
        EXPECT_EQ(list_devices(), nothing) << "HOME " << (value == nullptr ? "not set" : value);
    }
    EXPECT_EQ(log(), "") << "discovery writes no log line";
}

TEST_F(DeviceDiscoveryLinux, EachUsableRegistrationFileIsListedOnceInFileNameOrder) {
    ScopedHome home;
    // A trailing slash on HOME must not double the one after "~".
    platform::set_environment_variable("HOME", (home.path().string() + "/").c_str());
    // Written out of order (the listing must not depend on directory order);
    // the unusable ones have no library, a library that is not a string or is
    // empty, broken JSON, JSON that is not an object, a folder, another name.
    std::ifstream table(VXDIAG_TEST_DIR "/j2534/passthru_files.txt");
    std::string expected;
    for (std::string line; std::getline(table, line);) {
        const std::size_t space = std::min(line.find(' '), line.size());
        if (line.rfind("expect ", 0) == 0) expected += line.substr(7);
        else if (line.rfind('#', 0) != 0)
            home.write(".passthru/" + line.substr(0, space), line.substr(std::min(space + 1, line.size())));
    }
    home.write(".passthru/j_too_large.json", R"({"FUNCTION_LIB":"/x.so"})" + std::string(1024 * 1024, ' '));
    ASSERT_FALSE(expected.empty());
    const std::string home_text = json_escaped_text(home.path().string());
    for (auto at = expected.find("{home}"); at != std::string::npos; at = expected.find("{home}", at)) {
        expected.replace(at, 6, home_text);
    }
    EXPECT_EQ(list_devices(), expected);
    EXPECT_EQ(log(), "");
}

TEST_F(DeviceDiscoveryLinux, TheFolderAnswersToItsKeyAndValueNamesInAnyCase) {
    ScopedHome home;
    home.write(".passthru/dev.json", R"({"NAME":"Dev","FUNCTION_LIB":"/opt/dev.so"})");
    platform::Registry& registry = platform::system_registry();
    platform::RegistryKey root = nullptr;
    platform::RegistryKey key = nullptr;
    EXPECT_FALSE(registry.open_machine_key("SOFTWARE\\PassThruSupport.04.05", kKeyRead, root));
    ASSERT_TRUE(registry.open_machine_key("software\\PASSTHRUSUPPORT.04.04", kKeyRead, root));
    EXPECT_FALSE(registry.open_subkey(root, "nosuch", kKeyRead, key));
    ASSERT_TRUE(registry.open_subkey(root, "dev", kKeyRead, key));
    char expanded[4];  // files hold no %references%: a text is its own expansion
    EXPECT_EQ(registry.expand_environment("abc", expanded, sizeof expanded), 4u);
    EXPECT_STREQ(expanded, "abc");
    EXPECT_EQ(registry.expand_environment("abcd", expanded, sizeof expanded), 5u);
    std::string library;
    EXPECT_FALSE(read_string_value(registry, key, "FunctionLibrar", library));
    EXPECT_TRUE(read_string_value(registry, key, "functionLIBRARY", library));
    EXPECT_EQ(library, "/opt/dev.so");
    registry.close_key(key);
    registry.close_key(root);
}
#endif

// ---------------------------------------------------------------------------
// Windows (run under Wine): registrations written by reg.exe in this prefix
#ifdef _WIN32

constexpr char kTestKeyPrefix[] = "VxDiscoveryTest";

bool runs_under_wow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) != 0 && wow64 != FALSE;
}

// The test's subkeys (without the prefix) that the Win32 API itself lists in
// one view from this process, sorted.
std::vector<std::string> api_test_keys(const j2534::RegistryView& view) {
    std::vector<std::string> keys;
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, view.path, 0, KEY_READ | view.view_flag, &root) != ERROR_SUCCESS) return keys;
    char name[512];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(root, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::string key(name, size);
        if (key.rfind(kTestKeyPrefix, 0) == 0) keys.push_back(key.substr(sizeof kTestKeyPrefix - 1));
    }
    RegCloseKey(root);
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Replaces {root} by the system root and a closing {fill N c} as
// windows_registrations.txt describes.
std::string resolved(std::string text, const std::string& root) {
    for (auto at = text.find("{root}"); at != std::string::npos; at = text.find("{root}")) text.replace(at, 6, root);
    const std::size_t fill = text.find("{fill ");
    if (fill == std::string::npos) return text;
    std::size_t length = 0;
    char c = 0;
    std::istringstream(text.substr(fill + 6)) >> length >> c;
    text.resize(fill);
    const bool expands = text.find("%SystemRoot%") != std::string::npos;
    const std::size_t counted = text.size() + (expands ? root.size() - std::strlen("%SystemRoot%") : 0);
    return text + std::string(length - counted, c);
}

// One value as a line of a REGEDIT4 file. Strings are written as hex(1) or
// hex(2) bytes, NUL included, so no text needs quoting.
std::string reg_value(const std::string& type, const std::string& name, const std::string& data) {
    if (type == "dword") return "\"" + name + "\"=dword:" + data;
    std::string line = "\"" + name + (type == "sz" ? "\"=hex(1):" : "\"=hex(2):");
    char hex[4];
    for (const char c : data) {
        std::snprintf(hex, sizeof hex, "%02x,", static_cast<unsigned char>(c));
        line += hex;
    }
    return line + "00";
}

std::string registration_key(const std::string& key) {
    return "HKEY_LOCAL_MACHINE\\SOFTWARE\\PassThruSupport.04.04\\" + std::string(kTestKeyPrefix) + key;
}

class DeviceDiscoveryWindows : public CoreTest {
protected:
    static inline std::string system_root;
    // Per view ("64", "32"): the test's keys, sorted, and the .reg text of their values.
    static inline std::map<std::string, std::vector<std::string>> keys_by_view;
    static inline std::map<std::string, std::string> values_by_view;
    static inline std::map<std::string, std::string> record_of;  // key: its record
    static inline bool registered = false;

    // Removes every test key of each view and, when asked, writes the values
    // again: one start of the 64-bit reg.exe per view (each start of a Wine
    // program costs most of a second). A 32-bit process reaches that reg.exe
    // through Sysnative: its System32 is SysWOW64.
    static bool import(bool with_values) {
        const auto path = std::filesystem::temp_directory_path() / "vxdiag_discovery_test.reg";
        bool ok = true;
        for (const auto& [view, keys] : keys_by_view) {
            std::ofstream file(path, std::ios::binary);
            file << "REGEDIT4\r\n";
            for (const std::string& key : keys) file << "\r\n[-" << registration_key(key) << "]\r\n";
            if (with_values) file << values_by_view[view];
            file.close();
            // cmd /c drops the outer quotes of the line.
            const std::string line = "\"\"" + system_root + (runs_under_wow64() ? "\\Sysnative" : "\\System32") +
                                     "\\reg.exe\" import \"" + path.string() + "\" /reg:" + view + "\"";
            const bool imported = std::system(line.c_str()) == 0;
            EXPECT_TRUE(imported) << line;
            ok = ok && imported;
        }
        std::filesystem::remove(path);
        return ok;
    }

    static void SetUpTestSuite() {
        system_root = platform::environment_variable("SystemRoot").value_or("");
        std::ifstream table(VXDIAG_TEST_DIR "/j2534/windows_registrations.txt");
        for (std::string line; std::getline(table, line);) {
            if (line.empty() || line[0] == '#') continue;
            if (line.rfind("= ", 0) == 0) {
                const std::size_t library = line.rfind('|') + 1;
                record_of[line.substr(2, line.find('|') - 2)] =
                    line.substr(2, library - 2) + resolved(line.substr(library), system_root);
                continue;
            }
            std::istringstream fields(line);
            std::string key, view, type, assignment;
            fields >> key >> view >> type;
            std::getline(fields >> std::ws, assignment);
            const std::size_t equals = assignment.find('=');
            auto& keys = keys_by_view[view];
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
            values_by_view[view] += "\r\n[" + registration_key(key) + "]\r\n" +
                                    reg_value(type, assignment.substr(0, equals),
                                              resolved(assignment.substr(equals + 1), system_root)) +
                                    "\r\n";
        }
        for (auto& [view, keys] : keys_by_view) std::sort(keys.begin(), keys.end());
        registered = !record_of.empty() && import(/*with_values=*/true);
    }
    static void TearDownTestSuite() { import(/*with_values=*/false); }

    void SetUp() override {
        ASSERT_TRUE(registered) << "the test registrations could not be written";
        CoreTest::SetUp();
    }
};

TEST_F(DeviceDiscoveryWindows, EachViewListsWhatTheWin32ApiSeesThereExpandingOnlyExpandableStrings) {
    // What discovery lists of the test's keys: per view in listing order, the
    // records sorted by key.
    using Views = std::vector<std::pair<std::string, std::vector<std::string>>>;
    Views listed;
    for (const auto& device : discover_devices(platform::system_registry(), j2534::discovery_views())) {
        if (device.key.rfind(kTestKeyPrefix, 0) != 0) continue;
        if (listed.empty() || listed.back().first != device.source) listed.push_back({device.source, {}});
        listed.back().second.push_back(device.key.substr(sizeof kTestKeyPrefix - 1) + "|" + device.name + "|" +
                                       device.dll);
    }
    for (auto& [view, records] : listed) std::sort(records.begin(), records.end());

    // What the Win32 API enumerates in each view from this process, and what
    // discovery must list there: each usable key's record.
    Views expected;
    std::map<std::string, std::vector<std::string>> api_keys;
    for (const j2534::RegistryView& view : registry_views()) {
        api_keys[view.label] = api_test_keys(view);
        std::vector<std::string> records;
        for (const std::string& key : api_keys[view.label]) {
            if (record_of.count(key) != 0) records.push_back(record_of.at(key));
        }
        if (!records.empty()) expected.push_back({view.label, records});
    }
    EXPECT_EQ(listed, expected);

    // The WoW64 rule: a process sees its own bitness's keys natively, and
    // KEY_WOW64_32KEY and KEY_WOW64_64KEY pick a view whatever its bitness
    // (32-bit Windows has one registry and ignores them). The explicit
    // WOW6432Node path differs between Windows and Wine and is not checked.
    const std::vector<std::string>& keys_32 = keys_by_view["32"];
    const std::vector<std::string>& keys_64 = keys_by_view["64"];
    const bool process_32 = sizeof(void*) == 4;
    EXPECT_EQ(api_keys["HKLM native"], process_32 && runs_under_wow64() ? keys_32 : keys_64);
    EXPECT_EQ(api_keys["HKLM 32"], keys_32);
    EXPECT_EQ(api_keys["HKLM 64"], process_32 && !runs_under_wow64() ? keys_32 : keys_64);

    // The export escapes quotes and doubles each backslash of the paths.
    EXPECT_NE(list_devices().find(R"({"key":"VxDiscoveryTestSz","name":"Vx \"Sz\" Cable",)"
                                  R"("dll":"%SystemRoot%\\vx_sz.dll","source":"HKLM 64"})"),
              std::string::npos);
    EXPECT_EQ(log(), "");
}

#endif  // _WIN32
}  // namespace
}  // namespace vx::testing
