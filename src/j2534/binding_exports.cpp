// The exports that load and release a PassThru device library.
#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "j2534/binding.h"

extern "C" {

VX_API int VX_CALL VX_OpenJ2534Dll(const char* dll_path, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [dll_path] { return vx::j2534::open_device_library(dll_path); });
}

VX_API int VX_CALL VX_CloseJ2534(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::j2534::close_device_library(); });
}

}  // extern "C"
