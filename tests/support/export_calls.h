// Calls an export by its name with its argument written as text, the way the
// golden cases and the host session write calls: "VX_OpenJ2534Dll <path>",
// "VX_TryFiveBaudInit 0x33", a request text, or "null" for a null pointer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <string_view>

#include "VXArvessaDiagCore.h"

namespace vx::testing {

// Returns what the export returned; a text answer lands in buffer by the
// result buffer convention (VX_CoreVersion's text is copied there by it).
inline int call_export(const std::string& name, const std::string& argument, char* buffer, int size) {
    using Text = int (*)(const char*, char*, int);
    using None = int (*)(char*, int);
    static const std::map<std::string, Text> kText{
        {"VX_OpenJ2534Dll", VX_OpenJ2534Dll},       {"VX_ProtocolTrafficProbe", VX_ProtocolTrafficProbe},
        {"VX_ReadFaults", VX_ReadFaults},           {"VX_ReadLiveData", VX_ReadLiveData},
        {"VX_RunSafeFunction", VX_RunSafeFunction}, {"VX_RunActuatorKwp71", VX_RunActuatorKwp71},
        {"VX_ClearFaultMemory", VX_ClearFaultMemory}};
    static const std::map<std::string, None> kNone{
        {"VX_CloseJ2534", VX_CloseJ2534},   {"VX_ListJ2534Devices", VX_ListJ2534Devices},
        {"VX_GetLastLog", VX_GetLastLog},   {"VX_KLineActivityProbe", VX_KLineActivityProbe},
        {"VX_ReadBatteryVoltage", VX_ReadBatteryVoltage}};
    const auto number = [&argument] { return static_cast<unsigned>(argument.empty() ? 0 : std::stoul(argument, nullptr, 0)); };
    if (const auto text = kText.find(name); text != kText.end()) {
        return text->second(argument == "null" ? nullptr : argument.c_str(), buffer, size);
    }
    if (const auto none = kNone.find(name); none != kNone.end()) return none->second(buffer, size);
    if (name == "VX_TestIso9141Connect") return VX_TestIso9141Connect(number(), buffer, size);
    if (name == "VX_TryFiveBaudInit") return VX_TryFiveBaudInit(number(), buffer, size);
    if (name == "VX_SetSimulation") return VX_SetSimulation(static_cast<int>(number()));
    if (name == "VX_CoreVersion") {
        const std::string_view version = VX_CoreVersion();
        if (buffer != nullptr && size > 0) {
            buffer[version.copy(buffer, std::min(version.size(), static_cast<std::size_t>(size - 1)))] = '\0';
        }
        return static_cast<int>(version.size());
    }
    ADD_FAILURE() << "unknown export " << name;
    return -1;
}

}  // namespace vx::testing
