// The core library as a host sees it: loaded by its full path at run time
// through the platform layer, its sixteen exports resolved by name into
// function pointers of the exact types the public header declares (cdecl on
// 32-bit Windows). vxdiag never links the core.
#pragma once

#include "VXArvessaDiagCore.h"
#include "platform/dynamic_library.h"

#include <memory>
#include <string>
#include <vector>

namespace vxdiag {

struct CoreApi {
    decltype(&VX_CoreVersion) core_version = nullptr;
    decltype(&VX_SetSimulation) set_simulation = nullptr;
    decltype(&VX_GetLastLog) get_last_log = nullptr;
    decltype(&VX_ListJ2534Devices) list_devices = nullptr;
    decltype(&VX_OpenJ2534Dll) open = nullptr;
    decltype(&VX_CloseJ2534) close = nullptr;
    decltype(&VX_TestIso9141Connect) connect = nullptr;
    decltype(&VX_TryFiveBaudInit) five_baud_init = nullptr;
    decltype(&VX_KLineActivityProbe) kline_probe = nullptr;
    decltype(&VX_ProtocolTrafficProbe) traffic_probe = nullptr;
    decltype(&VX_ReadBatteryVoltage) read_battery = nullptr;
    decltype(&VX_ReadFaults) read_faults = nullptr;
    decltype(&VX_ReadLiveData) read_live_data = nullptr;
    decltype(&VX_RunSafeFunction) run_safe_function = nullptr;
    decltype(&VX_RunActuatorKwp71) run_actuator = nullptr;
    decltype(&VX_ClearFaultMemory) clear_fault_memory = nullptr;
};

class CoreLibrary {
public:
    // Loads the library at exactly this path and resolves the exports. On a
    // load failure returns null and sets `error` to the reason.
    static std::unique_ptr<CoreLibrary> load(const std::string& path, std::string& error);

    ~CoreLibrary();
    CoreLibrary(const CoreLibrary&) = delete;
    CoreLibrary& operator=(const CoreLibrary&) = delete;

    const CoreApi& api() const { return api_; }
    const std::string& path() const { return path_; }
    // True when the library exports this VX_ name.
    bool exports(const std::string& export_name) const;

private:
    CoreLibrary(vx::platform::LibraryHandle handle, std::string path);
    template <typename Fn>
    void bind(Fn& slot, const char* name);

    vx::platform::LibraryHandle handle_;
    std::string path_;
    CoreApi api_;
    std::vector<std::string> missing_;
};

}  // namespace vxdiag
