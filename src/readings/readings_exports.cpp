// The reading exports: battery voltage, fault and live-data reads.
#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "readings/battery_voltage.h"
#include "readings/ecu_reads.h"

extern "C" {

VX_API int VX_CALL VX_ReadBatteryVoltage(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::readings::read_battery_voltage(); });
}

VX_API int VX_CALL VX_ReadFaults(const char* /*unused*/, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::readings::read_faults(); });
}

VX_API int VX_CALL VX_ReadLiveData(const char* /*unused*/, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::readings::read_live_data(); });
}

}  // extern "C"
