// The exports that send frames meant to change ECU state, each through the
// command gate.
#include "VXArvessaDiagCore.h"
#include "commands/fault_memory_clear.h"
#include "commands/kwp71_actuator.h"
#include "commands/safe_function.h"
#include "core/export_guard.h"

extern "C" {

VX_API int VX_CALL VX_RunSafeFunction(const char* request, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [request] { return vx::commands::run_safe_function(request); });
}

VX_API int VX_CALL VX_RunActuatorKwp71(const char* request, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [request] { return vx::commands::run_actuator(request); });
}

VX_API int VX_CALL VX_ClearFaultMemory(const char* request, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [request] { return vx::commands::run_clear(request); });
}

}  // extern "C"
