// Loading VXArvessaDiagCore by the full path a host chooses, and its exports
// as cdecl delegates.
//
// The core is loaded with LoadLibraryW on Windows and dlopen elsewhere, and
// each export is bound with GetProcAddress/dlsym and
// Marshal.GetDelegateForFunctionPointer, which works the same on Mono, .NET
// Framework and .NET. Every delegate is cdecl: the default for a delegate on
// 32-bit Windows is stdcall, and calling a cdecl function as stdcall leaves
// its arguments on the stack, which corrupts it. (On x86_64 there is one
// convention.) A 32-bit core needs a 32-bit process (build with
// /platform:x86).
//
// Text arguments go in as the bytes the core reads: Marshal.StringToHGlobalAnsi
// gives the ANSI code page on Windows, which LoadLibraryA of the core takes for
// a path, and UTF-8 elsewhere. Answers come back in a byte buffer by the
// buffer convention, which Core handles.
using System;
using System.Runtime.InteropServices;

namespace VXArvessaDiagCore
{
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)] public delegate IntPtr VersionExport();
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)] public delegate int SwitchExport(int enabled);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)] public delegate int BufferExport(byte[] buffer, int size);
    // A text (or, for the two reads, an unused pointer), then the buffer.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)] public delegate int TextExport(IntPtr text, byte[] buffer, int size);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)] public delegate int NumberExport(uint number, byte[] buffer, int size);

    // A shared library loaded by path, freed on Dispose.
    public sealed class NativeLibrary : IDisposable
    {
        private static readonly bool OnWindows = Environment.OSVersion.Platform == PlatformID.Win32NT;
        private IntPtr handle;

        public NativeLibrary(string path)
        {
            handle = OnWindows ? LoadLibraryW(path) : dlopen(path, RtldNow);
            if (handle == IntPtr.Zero)
            {
                string why = OnWindows ? "Windows error " + Marshal.GetLastWin32Error() : Marshal.PtrToStringAnsi(dlerror());
                throw new DllNotFoundException("cannot load " + path + ": " + why);
            }
        }

        // The export as a delegate of type T.
        public T Bind<T>(string name) where T : class
        {
            if (handle == IntPtr.Zero) throw new ObjectDisposedException("NativeLibrary");
            IntPtr address = OnWindows ? GetProcAddress(handle, name) : dlsym(handle, name);
            if (address == IntPtr.Zero) throw new EntryPointNotFoundException(name);
            return (T)(object)Marshal.GetDelegateForFunctionPointer(address, typeof(T));
        }

        public void Dispose()
        {
            if (handle == IntPtr.Zero) return;
            if (OnWindows) FreeLibrary(handle); else dlclose(handle);
            handle = IntPtr.Zero;
        }

        private const int RtldNow = 2;
        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)] private static extern IntPtr LoadLibraryW(string path);
        [DllImport("kernel32", CharSet = CharSet.Ansi, ExactSpelling = true)] private static extern IntPtr GetProcAddress(IntPtr module, string name);
        [DllImport("kernel32")] private static extern bool FreeLibrary(IntPtr module);
        [DllImport("libdl.so.2")] private static extern IntPtr dlopen(string path, int flags);
        [DllImport("libdl.so.2")] private static extern IntPtr dlsym(IntPtr handle, string name);
        [DllImport("libdl.so.2")] private static extern int dlclose(IntPtr handle);
        [DllImport("libdl.so.2")] private static extern IntPtr dlerror();
    }

    // A text argument as the NUL-terminated bytes the core reads; null stays
    // a null pointer.
    public sealed class NativeText : IDisposable
    {
        public readonly IntPtr Pointer;
        public readonly int Length;

        public NativeText(string text)
        {
            if (text == null) return;
            if (text.IndexOf('\0') >= 0) throw new ArgumentException("a text for the core cannot hold a NUL character");
            Pointer = Marshal.StringToHGlobalAnsi(text);
            while (Marshal.ReadByte(Pointer, Length) != 0) Length++;
        }

        public void Dispose()
        {
            if (Pointer != IntPtr.Zero) Marshal.FreeHGlobal(Pointer);
        }
    }
}
