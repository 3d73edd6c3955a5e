// The public header as a C++ host sees it, compiled with all warnings as
// errors. The assertions pin the signature of every export: the bindings
// (ctypes argtypes, C# DllImport declarations) are written against exactly
// these, so a change here must change them too.
#include <VXArvessaDiagCore.h>

#include <type_traits>

namespace {

using BufferOnly = int(VX_CALL*)(char*, int);
using TextArgument = int(VX_CALL*)(const char*, char*, int);
using NumberArgument = int(VX_CALL*)(unsigned int, char*, int);

template <typename Expected>
constexpr bool all_have() {
    return true;
}

template <typename Expected, typename First, typename... Rest>
constexpr bool all_have(First, Rest... rest) {
    return std::is_same<Expected, First>::value && all_have<Expected>(rest...);
}

static_assert(all_have<const char*(VX_CALL*)(void)>(&VX_CoreVersion), "VX_CoreVersion");
static_assert(all_have<int(VX_CALL*)(int)>(&VX_SetSimulation), "VX_SetSimulation");
static_assert(all_have<BufferOnly>(&VX_GetLastLog, &VX_ListJ2534Devices, &VX_CloseJ2534, &VX_KLineActivityProbe,
                                   &VX_ReadBatteryVoltage),
              "exports with a result buffer only");
static_assert(all_have<TextArgument>(&VX_OpenJ2534Dll, &VX_ProtocolTrafficProbe, &VX_ReadFaults, &VX_ReadLiveData,
                                     &VX_RunSafeFunction, &VX_RunActuatorKwp71, &VX_ClearFaultMemory),
              "exports with a text argument");
static_assert(all_have<NumberArgument>(&VX_TestIso9141Connect, &VX_TryFiveBaudInit), "exports with a number argument");

}  // namespace
