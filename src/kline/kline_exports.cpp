// The K-line channel exports: thin wrappers over the channel connect and the
// 5-baud initialisation.
#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "kline/channel_connect.h"
#include "kline/five_baud_init.h"

extern "C" {

VX_API int VX_CALL VX_TestIso9141Connect(unsigned int baudRate, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [baudRate] { return vx::ConnectIso9141Channel(baudRate); });
}

VX_API int VX_CALL VX_TryFiveBaudInit(unsigned int ecuAddress, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [ecuAddress] { return vx::TryFiveBaudInit(ecuAddress); });
}

}  // extern "C"
