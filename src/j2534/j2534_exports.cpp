// The exports of the PassThru binding: list the registered libraries, load
// and release one.
#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "j2534/binding.h"
#include "j2534/discovery.h"

extern "C" {

VX_API int VX_CALL VX_OpenJ2534Dll(const char* dll_path, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [dll_path] { return vx::j2534::open_device_library(dll_path); });
}

VX_API int VX_CALL VX_CloseJ2534(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::j2534::close_device_library(); });
}

VX_API int VX_CALL VX_ListJ2534Devices(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::j2534::list_devices_result(); });
}

}  // extern "C"
