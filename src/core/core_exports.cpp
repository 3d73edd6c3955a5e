// The exports of the core itself: version, simulation switch, raw log.
#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "core/raw_log.h"
#include "core/simulation_switch.h"

namespace {
constexpr char kVersionText[] = "Vexaro Arvessa Ryx J2534 communication core ready";
}  // namespace

extern "C" {

VX_API const char* VX_CALL VX_CoreVersion(void) { return kVersionText; }

VX_API int VX_CALL VX_SetSimulation(int enabled) {
    return vx::guarded_call(0, [enabled] {
        vx::set_simulation(enabled != 0);
        vx::log_line(enabled != 0 ? " simulation=ON" : " simulation=OFF");
        return 0;
    });
}

VX_API int VX_CALL VX_GetLastLog(char* buffer, int size) { return vx::copy_log_out(buffer, size); }

}  // extern "C"
