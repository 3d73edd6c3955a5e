// The exports with their buffer handled: each method returns the export's
// answer text whole (a JSON object, or the raw log for GetLastLog).
//
// The core is one process-wide state, so Core is a static class. Any thread
// may call it; the core's lock runs the calls one at a time.
using System;
using System.Runtime.InteropServices;

namespace VXArvessaDiagCore
{
    public static class Core
    {
        // Large enough for every answer of a session; only a long raw log
        // needs a second call (which would repeat a device action).
        public const int DefaultBufferSize = 64 * 1024;

        public static string CoreVersion() => Marshal.PtrToStringAnsi(NativeMethods.VX_CoreVersion());
        public static void SetSimulation(bool on) => NativeMethods.VX_SetSimulation(on ? 1 : 0);
        public static string GetLastLog() => ReadAnswer(NativeMethods.VX_GetLastLog);
        public static string ListJ2534Devices() => ReadAnswer(NativeMethods.VX_ListJ2534Devices);
        public static string OpenJ2534Dll(string dllPath) => ReadAnswer((buffer, size) => NativeMethods.VX_OpenJ2534Dll(dllPath, buffer, size));
        public static string CloseJ2534() => ReadAnswer(NativeMethods.VX_CloseJ2534);
        public static string TestIso9141Connect(uint baudRate) => ReadAnswer((buffer, size) => NativeMethods.VX_TestIso9141Connect(baudRate, buffer, size));
        public static string TryFiveBaudInit(uint ecuAddress) => ReadAnswer((buffer, size) => NativeMethods.VX_TryFiveBaudInit(ecuAddress, buffer, size));
        public static string KLineActivityProbe() => ReadAnswer(NativeMethods.VX_KLineActivityProbe);
        public static string ProtocolTrafficProbe(string probe) => ReadAnswer((buffer, size) => NativeMethods.VX_ProtocolTrafficProbe(probe, buffer, size));
        public static string ReadBatteryVoltage() => ReadAnswer(NativeMethods.VX_ReadBatteryVoltage);
        public static string ReadFaults() => ReadAnswer((buffer, size) => NativeMethods.VX_ReadFaults(IntPtr.Zero, buffer, size));
        public static string ReadLiveData() => ReadAnswer((buffer, size) => NativeMethods.VX_ReadLiveData(IntPtr.Zero, buffer, size));
        public static string RunSafeFunction(string request) => ReadAnswer((buffer, size) => NativeMethods.VX_RunSafeFunction(request, buffer, size));
        public static string RunActuatorKwp71(string request) => ReadAnswer((buffer, size) => NativeMethods.VX_RunActuatorKwp71(request, buffer, size));
        public static string ClearFaultMemory(string request) => ReadAnswer((buffer, size) => NativeMethods.VX_ClearFaultMemory(request, buffer, size));

        // The buffer convention: the export copies min(size - 1, length)
        // bytes and a NUL and returns the answer's full length, so a length
        // >= size means the answer was cut: ask again with length + 1 bytes.
        public static string ReadAnswer(Func<byte[], int, int> export, int size = DefaultBufferSize)
        {
            while (true)
            {
                var buffer = new byte[size];
                int length = export(buffer, size);
                if (length < 0) throw new InvalidOperationException("VXArvessaDiagCore returned the length " + length);
                if (length < size) return Decode(buffer, length);
                size = checked(length + 1);
            }
        }

        // In the encoding the text arguments went in (LPStr): a library path
        // that the core echoes comes back as it was given.
        private static string Decode(byte[] buffer, int length)
        {
            GCHandle pinned = GCHandle.Alloc(buffer, GCHandleType.Pinned);
            try
            {
                return Marshal.PtrToStringAnsi(pinned.AddrOfPinnedObject(), length);
            }
            finally
            {
                pinned.Free();
            }
        }
    }
}
