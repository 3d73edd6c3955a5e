// The K-line channel exports: thin wrappers over the channel connect and the
// 5-baud initialisation.
#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "kline/channel_connect.h"
#include "kline/five_baud_init.h"

extern "C" {

VX_API int VX_CALL VX_TestIso9141Connect(unsigned int baud_rate, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [baud_rate] { return vx::connect_iso9141_channel(baud_rate); });
}

VX_API int VX_CALL VX_TryFiveBaudInit(unsigned int ecu_address, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [ecu_address] { return vx::try_five_baud_init(ecu_address); });
}

}  // extern "C"
