// VX_ListJ2534Devices: the registered PassThru libraries for the host to offer.
#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "j2534/discovery.h"

extern "C" {

VX_API int VX_CALL VX_ListJ2534Devices(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::j2534::list_devices_result(); });
}

}  // extern "C"
