// A short session through the binding, in a desktop host's order:
//
//   mono VxDiagSample.exe <core library> <PassThru library>
//   VxDiagSample.exe C:\...\VXArvessaDiagCore.dll <PassThru DLL>
//
// Built with the binding: mcs -out:VxDiagSample.exe NativeMethods.cs Core.cs Sample.cs
// (csc the same way on Windows, /platform:x86 for the 32-bit core).
// Leaving the using block closes the device. Exit status 0 when the ECU at
// 0x33 confirmed the 5-baud initialisation.
using System;

namespace VXArvessaDiagCore.Sample
{
    public static class Program
    {
        public static int Main(string[] args)
        {
            if (args.Length != 2)
            {
                Console.Error.WriteLine("usage: VxDiagSample <core library> <PassThru library>");
                return 2;
            }
            string init;
            using (var core = new Core(args[0]))
            {
                Console.WriteLine(core.CoreVersion());
                Show("VX_OpenJ2534Dll", core.OpenJ2534Dll(args[1]));
                Show("VX_TestIso9141Connect", core.TestIso9141Connect(10400));
                init = Show("VX_TryFiveBaudInit", core.TryFiveBaudInit(0x33));
                Show("VX_ReadBatteryVoltage", core.ReadBatteryVoltage());
                Show("VX_CloseJ2534", core.CloseJ2534());
                Console.Write(core.GetLastLog());
            }
            // A host without a JSON library can still look for a member's text.
            return init.Contains("\"initOk\":true") ? 0 : 1;
        }

        private static string Show(string export, string answer)
        {
            Console.WriteLine(export + " " + answer);
            return answer;
        }
    }
}
