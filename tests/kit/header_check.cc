// The public header as a C++ host sees it, compiled with all warnings as
// errors. The checks below pin the signature of every export: the bindings
// (ctypes argtypes, C# DllImport declarations) are written against exactly
// these, so a change here must change them too. No function pointer converts
// to another function pointer type: an export whose signature changed cannot
// stand in the tables.
#include <VXArvessaDiagCore.h>

#include <type_traits>

using BufferOnly = int(VX_CALL*)(char*, int);
using TextArgument = int(VX_CALL*)(const char*, char*, int);
using NumberArgument = int(VX_CALL*)(unsigned int, char*, int);
extern const BufferOnly kBufferOnly[];
extern const TextArgument kTextArgument[];
extern const NumberArgument kNumberArgument[];

static_assert(std::is_same<decltype(&VX_CoreVersion), const char*(VX_CALL*)(void)>::value, "VX_CoreVersion");
static_assert(std::is_same<decltype(&VX_SetSimulation), int(VX_CALL*)(int)>::value, "VX_SetSimulation");
const BufferOnly kBufferOnly[] = {&VX_GetLastLog, &VX_ListJ2534Devices, &VX_CloseJ2534, &VX_KLineActivityProbe,
                                  &VX_ReadBatteryVoltage};
const TextArgument kTextArgument[] = {&VX_OpenJ2534Dll, &VX_ProtocolTrafficProbe, &VX_ReadFaults, &VX_ReadLiveData,
                                      &VX_RunSafeFunction, &VX_RunActuatorKwp71, &VX_ClearFaultMemory};
const NumberArgument kNumberArgument[] = {&VX_TestIso9141Connect, &VX_TryFiveBaudInit};
