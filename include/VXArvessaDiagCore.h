/*
 * VXArvessaDiagCore - public C interface for hosts.
 *
 * Every function that produces a result writes one JSON object into the
 * caller's buffer and returns the full length of that text (without the NUL):
 *   - with a non-null buffer and size > 0, the first min(size - 1, length)
 *     bytes are copied and a NUL is stored after them;
 *   - otherwise nothing is written.
 * A return value >= size therefore signals a truncated result; call with a
 * null buffer to learn the length first.
 *
 * All functions use the platform's default C calling convention (cdecl on
 * 32-bit x86) and are exported undecorated. Text arguments are NUL-terminated
 * narrow strings that are only read. The core may be called from several
 * threads; calls are serialised internally, except VX_GetLastLog, which never
 * waits for a device operation to finish.
 *
 * Out of memory: an export that cannot allocate while building its answer
 * returns the fixed text
 *   {"ok":false,"stage":"out-of-memory","error":"The core ran out of memory."}
 * and the raw log is left without the line that could not be built.
 */
#ifndef VX_ARVESSA_DIAG_CORE_H
#define VX_ARVESSA_DIAG_CORE_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  define VX_CALL __cdecl
#else
#  define VX_CALL
#endif

#if defined(VXDIAG_BUILDING_CORE)
#  if defined(_WIN32)
#    define VX_API __declspec(dllexport)
#  else
#    define VX_API __attribute__((visibility("default")))
#  endif
#else
#  define VX_API
#endif

/* Library frame */
VX_API const char* VX_CALL VX_CoreVersion(void);
VX_API int VX_CALL VX_SetSimulation(int enabled);
VX_API int VX_CALL VX_GetLastLog(char* buffer, int size);

/* J2534 binding and discovery */
VX_API int VX_CALL VX_ListJ2534Devices(char* buffer, int size);
VX_API int VX_CALL VX_OpenJ2534Dll(const char* dllPath, char* buffer, int size);
VX_API int VX_CALL VX_CloseJ2534(char* buffer, int size);

/* K-line channel */
VX_API int VX_CALL VX_TestIso9141Connect(unsigned int baudRate, char* buffer, int size);
VX_API int VX_CALL VX_TryFiveBaudInit(unsigned int ecuAddress, char* buffer, int size);

/* Probes */
VX_API int VX_CALL VX_KLineActivityProbe(char* buffer, int size);
VX_API int VX_CALL VX_ProtocolTrafficProbe(const char* probe, char* buffer, int size);

/* Readings. The first argument of the two reads is not used. */
VX_API int VX_CALL VX_ReadBatteryVoltage(char* buffer, int size);
VX_API int VX_CALL VX_ReadFaults(const char* unused, char* buffer, int size);
VX_API int VX_CALL VX_ReadLiveData(const char* unused, char* buffer, int size);

/* ECU commands */
VX_API int VX_CALL VX_RunSafeFunction(const char* request, char* buffer, int size);
VX_API int VX_CALL VX_RunActuatorKwp71(const char* request, char* buffer, int size);
VX_API int VX_CALL VX_ClearFaultMemory(const char* request, char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif /* VX_ARVESSA_DIAG_CORE_H */
