// The exports that load and release a PassThru device library.
#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "j2534/binding.h"

extern "C" {

VX_API int VX_CALL VX_OpenJ2534Dll(const char* dllPath, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [dllPath] { return vx::j2534::open_device_library(dllPath); });
}

VX_API int VX_CALL VX_CloseJ2534(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::j2534::close_device_library(); });
}

}  // extern "C"
