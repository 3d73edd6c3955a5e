// A short session through the binding, in a desktop host's order:
//
//   mono VxDiagSample.exe <PassThru library>   Linux: libVXArvessaDiagCore.so on LD_LIBRARY_PATH
//   VxDiagSample.exe <PassThru DLL>            Windows: VXArvessaDiagCore.dll beside the program
//
// Built with the binding: mcs -out:VxDiagSample.exe NativeMethods.cs Core.cs Sample.cs
// (csc the same way on Windows, /platform:x86 for the 32-bit core).
// Exit status 0 when the ECU at 0x33 confirmed the 5-baud initialisation.
using System;

namespace VXArvessaDiagCore.Sample
{
    public static class Program
    {
        public static int Main(string[] args)
        {
            if (args.Length != 1)
            {
                Console.Error.WriteLine("usage: VxDiagSample <PassThru library>");
                return 2;
            }
            Console.WriteLine(Core.CoreVersion());
            Show("VX_OpenJ2534Dll", Core.OpenJ2534Dll(args[0]));
            Show("VX_TestIso9141Connect", Core.TestIso9141Connect(10400));
            string init = Show("VX_TryFiveBaudInit", Core.TryFiveBaudInit(0x33));
            Show("VX_ReadBatteryVoltage", Core.ReadBatteryVoltage());
            Show("VX_CloseJ2534", Core.CloseJ2534());
            Console.Write(Core.GetLastLog());
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
