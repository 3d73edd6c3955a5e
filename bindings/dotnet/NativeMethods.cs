// The sixteen exports of VXArvessaDiagCore as P/Invoke declarations.
//
// Every export is cdecl, and each declaration says CallingConvention.Cdecl:
// the DllImport default on 32-bit Windows is stdcall, and calling a cdecl
// function as stdcall leaves its arguments on the stack, which corrupts it.
// (On x86_64 there is one convention and the setting changes nothing.)
//
// "VXArvessaDiagCore" is VXArvessaDiagCore.dll on Windows, found beside the
// program or on the DLL search path; a 32-bit DLL needs a 32-bit process
// (build with /platform:x86). Under Mono it is libVXArvessaDiagCore.so, found
// on LD_LIBRARY_PATH or the linker's paths.
//
// Texts go in as LPStr (the ANSI code page on Windows, UTF-8 elsewhere), the
// encoding LoadLibraryA expects for a path. Answers come back in a byte buffer
// by the buffer convention, which Core handles.
using System;
using System.Runtime.InteropServices;

namespace VXArvessaDiagCore
{
    public static class NativeMethods
    {
        public const string LibraryName = "VXArvessaDiagCore";

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern IntPtr VX_CoreVersion();
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_SetSimulation(int enabled);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_GetLastLog([Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_ListJ2534Devices([Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_OpenJ2534Dll([MarshalAs(UnmanagedType.LPStr)] string dllPath, [Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_CloseJ2534([Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_TestIso9141Connect(uint baudRate, [Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_TryFiveBaudInit(uint ecuAddress, [Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_KLineActivityProbe([Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_ProtocolTrafficProbe([MarshalAs(UnmanagedType.LPStr)] string probe, [Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_ReadBatteryVoltage([Out] byte[] buffer, int size);
        // The first argument of the two reads is never read: pass IntPtr.Zero.
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_ReadFaults(IntPtr unused, [Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_ReadLiveData(IntPtr unused, [Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_RunSafeFunction([MarshalAs(UnmanagedType.LPStr)] string request, [Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_RunActuatorKwp71([MarshalAs(UnmanagedType.LPStr)] string request, [Out] byte[] buffer, int size);
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl)] public static extern int VX_ClearFaultMemory([MarshalAs(UnmanagedType.LPStr)] string request, [Out] byte[] buffer, int size);
    }
}
