// VXArvessaDiagCore loaded from the path a host gives, one method per export;
// each returns the export's answer text whole (a JSON object, or the raw log
// for GetLastLog).
//
//   using (var core = new Core(@"C:\Program Files\Host\VXArvessaDiagCore.dll"))
//   {
//       core.OpenJ2534Dll(@"C:\Program Files\Vendor\j2534.dll");
//       ...
//   }   // Dispose called VX_CloseJ2534 and released the core
//
// An export that acts on the device is called exactly once, with a buffer of
// VX_ANSWER_BUFFER_SIZE (the header's bound on its answer): calling it again
// to fetch a longer answer would repeat what it did on the car, a second start
// frame, a valve run twice. A cut answer, which the bound rules out, throws
// AnswerCutException. Only GetLastLog and ListJ2534Devices, which act on no
// device, ask again with a larger buffer (ReadAnswer).
//
// The core is one process-wide state behind a lock: any thread may call, and
// calls run one at a time; instances on the same library share that state.
using System;
using System.Runtime.InteropServices;

namespace VXArvessaDiagCore
{
    // A device export's answer did not fit its buffer; the export is not
    // called again.
    public sealed class AnswerCutException : InvalidOperationException
    {
        public AnswerCutException(string message) : base(message) { }
    }

    public sealed class Core : IDisposable
    {
        // VX_MAX_ANSWER_BYTES of VXArvessaDiagCore.h (the header explains the
        // arithmetic; the binding's test compares the two).
        public const int MaxAnswerBytes = 6 * (8 * 12549 + 9) + 2048;

        // VX_ANSWER_BUFFER_SIZE: the buffer for a call with a text argument of
        // textBytes bytes.
        public static int AnswerBufferSize(int textBytes) { return checked(MaxAnswerBytes + 6 * textBytes + 1); }

        private readonly NativeLibrary library;
        private readonly int? bufferSize;
        private readonly VersionExport coreVersion;
        private readonly SwitchExport setSimulation;
        private readonly BufferExport getLastLog, listJ2534Devices, closeJ2534, kLineActivityProbe, readBatteryVoltage;
        private readonly TextExport openJ2534Dll, protocolTrafficProbe, readFaults, readLiveData;
        private readonly TextExport runSafeFunction, runActuatorKwp71, clearFaultMemory;
        private readonly NumberExport testIso9141Connect, tryFiveBaudInit;
        private bool disposed;

        // Loads the core from its full path. bufferSize replaces the bound for
        // the device exports' buffer (only to see AnswerCutException in a test).
        public Core(string libraryPath, int? bufferSize = null)
        {
            library = new NativeLibrary(libraryPath);
            this.bufferSize = bufferSize;
            try
            {
                coreVersion = library.Bind<VersionExport>("VX_CoreVersion");
                setSimulation = library.Bind<SwitchExport>("VX_SetSimulation");
                getLastLog = library.Bind<BufferExport>("VX_GetLastLog");
                listJ2534Devices = library.Bind<BufferExport>("VX_ListJ2534Devices");
                openJ2534Dll = library.Bind<TextExport>("VX_OpenJ2534Dll");
                closeJ2534 = library.Bind<BufferExport>("VX_CloseJ2534");
                testIso9141Connect = library.Bind<NumberExport>("VX_TestIso9141Connect");
                tryFiveBaudInit = library.Bind<NumberExport>("VX_TryFiveBaudInit");
                kLineActivityProbe = library.Bind<BufferExport>("VX_KLineActivityProbe");
                protocolTrafficProbe = library.Bind<TextExport>("VX_ProtocolTrafficProbe");
                readBatteryVoltage = library.Bind<BufferExport>("VX_ReadBatteryVoltage");
                readFaults = library.Bind<TextExport>("VX_ReadFaults");
                readLiveData = library.Bind<TextExport>("VX_ReadLiveData");
                runSafeFunction = library.Bind<TextExport>("VX_RunSafeFunction");
                runActuatorKwp71 = library.Bind<TextExport>("VX_RunActuatorKwp71");
                clearFaultMemory = library.Bind<TextExport>("VX_ClearFaultMemory");
            }
            catch
            {
                library.Dispose();
                throw;
            }
        }

        // Closes the device (VX_CloseJ2534), then releases the core.
        public void Dispose()
        {
            if (disposed) return;
            disposed = true;
            try
            {
                closeJ2534(new byte[16], 16);
            }
            finally
            {
                library.Dispose();
            }
        }

        public string CoreVersion() { return Marshal.PtrToStringAnsi(coreVersion()); }
        public void SetSimulation(bool on) { setSimulation(on ? 1 : 0); }
        public string GetLastLog() { return ReadWhole(getLastLog); }
        public string ListJ2534Devices() { return ReadWhole(listJ2534Devices); }
        public string OpenJ2534Dll(string dllPath) { return Once(openJ2534Dll, dllPath); }
        public string CloseJ2534() { return Once((buffer, size) => closeJ2534(buffer, size), 0); }
        public string TestIso9141Connect(uint baudRate) { return Once((buffer, size) => testIso9141Connect(baudRate, buffer, size), 0); }
        public string TryFiveBaudInit(uint ecuAddress) { return Once((buffer, size) => tryFiveBaudInit(ecuAddress, buffer, size), 0); }
        public string KLineActivityProbe() { return Once((buffer, size) => kLineActivityProbe(buffer, size), 0); }
        public string ProtocolTrafficProbe(string probe) { return Once(protocolTrafficProbe, probe); }
        public string ReadBatteryVoltage() { return Once((buffer, size) => readBatteryVoltage(buffer, size), 0); }
        public string ReadFaults() { return Once((buffer, size) => readFaults(IntPtr.Zero, buffer, size), 0); }
        public string ReadLiveData() { return Once((buffer, size) => readLiveData(IntPtr.Zero, buffer, size), 0); }
        public string RunSafeFunction(string request) { return Once(runSafeFunction, request); }
        public string RunActuatorKwp71(string request) { return Once(runActuatorKwp71, request); }
        public string ClearFaultMemory(string request) { return Once(clearFaultMemory, request); }

        private string Once(TextExport export, string text)
        {
            using (var native = new NativeText(text))
            {
                return Once((buffer, size) => export(native.Pointer, buffer, size), native.Length);
            }
        }

        private string Once(Func<byte[], int, int> export, int textBytes)
        {
            if (disposed) throw new ObjectDisposedException("Core");
            return ReadAnswerOnce(export, bufferSize ?? AnswerBufferSize(textBytes));
        }

        private string ReadWhole(BufferExport export)
        {
            if (disposed) throw new ObjectDisposedException("Core");
            return ReadAnswer((buffer, size) => export(buffer, size));
        }

        // One call of a device export; a cut answer throws.
        public static string ReadAnswerOnce(Func<byte[], int, int> export, int size)
        {
            var buffer = new byte[size];
            int length = export(buffer, size);
            if (length < 0) throw new InvalidOperationException("VXArvessaDiagCore returned the length " + length);
            if (length >= size) throw new AnswerCutException("an answer of " + length + " bytes did not fit the buffer of " + size + " bytes");
            return Decode(buffer, length);
        }

        // The buffer convention, for the exports that act on no device: the
        // export copies min(size - 1, length) bytes and a NUL and returns the
        // answer's full length, so a length >= size means the answer was cut:
        // ask again with length + 1 bytes.
        public static string ReadAnswer(Func<byte[], int, int> export, int size = 64 * 1024)
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

        // In the encoding the text arguments went in: a library path that the
        // core echoes comes back as it was given.
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
