#include "core_library.h"

#include <algorithm>
#include <utility>

namespace vxdiag {

CoreLibrary::CoreLibrary(vx::platform::LibraryHandle handle, std::string path)
    : handle_(handle), path_(std::move(path)) {}

CoreLibrary::~CoreLibrary() { vx::platform::free_library(handle_); }

template <typename Fn>
void CoreLibrary::bind(Fn& slot, const char* name) {
    slot = reinterpret_cast<Fn>(vx::platform::find_symbol(handle_, name));
    if (slot == nullptr) missing_.emplace_back(name);
}

std::unique_ptr<CoreLibrary> CoreLibrary::load(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no path given";
        return nullptr;
    }
    const vx::platform::LibraryHandle handle = vx::platform::load_library(path.c_str());
    if (handle == nullptr) {
        error = vx::platform::last_load_error();
        if (error.empty()) error = "the operating system gave no reason";
        return nullptr;
    }
    std::unique_ptr<CoreLibrary> core(new CoreLibrary(handle, path));
    CoreApi& api = core->api_;
    core->bind(api.core_version, "VX_CoreVersion");
    core->bind(api.set_simulation, "VX_SetSimulation");
    core->bind(api.get_last_log, "VX_GetLastLog");
    core->bind(api.list_devices, "VX_ListJ2534Devices");
    core->bind(api.open, "VX_OpenJ2534Dll");
    core->bind(api.close, "VX_CloseJ2534");
    core->bind(api.connect, "VX_TestIso9141Connect");
    core->bind(api.five_baud_init, "VX_TryFiveBaudInit");
    core->bind(api.kline_probe, "VX_KLineActivityProbe");
    core->bind(api.traffic_probe, "VX_ProtocolTrafficProbe");
    core->bind(api.read_battery, "VX_ReadBatteryVoltage");
    core->bind(api.read_faults, "VX_ReadFaults");
    core->bind(api.read_live_data, "VX_ReadLiveData");
    core->bind(api.run_safe_function, "VX_RunSafeFunction");
    core->bind(api.run_actuator, "VX_RunActuatorKwp71");
    core->bind(api.clear_fault_memory, "VX_ClearFaultMemory");
    return core;
}

bool CoreLibrary::exports(const std::string& export_name) const {
    return std::find(missing_.begin(), missing_.end(), export_name) == missing_.end();
}

}  // namespace vxdiag
