// Checks of the C# binding under Mono: the buffer convention on a stand-in
// export, then requests and answers through the built core, and a device
// export called once however long its answer. Ends with "N passed, M failed".
//   mono BindingTest.exe <core library> <simulated VCI library> <header>
using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using System.Text.RegularExpressions;

namespace VXArvessaDiagCore.Tests
{
    public static class BindingTest
    {
        private static int passed;
        private static int failed;

        private static void Expect(bool condition, string what)
        {
            Console.WriteLine((condition ? "ok   " : "FAIL ") + what);
            if (condition) passed++; else failed++;
        }

        // Answers on successive calls, first buffer size, the sizes the binding must pass.
        private static readonly Tuple<string[], int, int[]>[] ReadAnswerCases =
        {
            Tuple.Create(new[] { "{}" }, 16, new[] { 16 }),
            Tuple.Create(new[] { new string('x', 16) }, 16, new[] { 16, 17 }),
            Tuple.Create(new[] { new string('x', 40), new string('y', 50) }, 16, new[] { 16, 41, 51 }),
        };

        private static void ReadAnswerAsksAgainWithTheFullLengthPlusOne()
        {
            foreach (var c in ReadAnswerCases)
            {
                var sizes = new List<int>();
                string answer = Core.ReadAnswer((buffer, size) =>
                {
                    byte[] text = Encoding.ASCII.GetBytes(c.Item1[Math.Min(sizes.Count, c.Item1.Length - 1)]);
                    sizes.Add(size);
                    if (sizes.Count > c.Item3.Length) throw new InvalidOperationException("called again and again");
                    int copied = Math.Min(size - 1, text.Length);
                    Array.Copy(text, buffer, copied);
                    buffer[copied] = 0;
                    return text.Length;
                }, c.Item2);
                Expect(answer == c.Item1[c.Item1.Length - 1] && string.Join(",", sizes) == string.Join(",", c.Item3),
                       "ReadAnswer with buffer sizes " + string.Join(",", sizes));
            }
        }

        // sim_reply of sim/passthru_sim_control.h; unsigned long is 64 bits
        // where these checks run (Mono on Linux x86_64).
        [StructLayout(LayoutKind.Sequential)]
        private struct SimReply
        {
            public IntPtr Data;
            public ulong Size, ProtocolId, RxStatus, TxFlags, Timestamp, ExtraDataIndex;
            public int OverrideDataSize;
            public ulong DataSize;
            public uint AfterWrites;
        }
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate void SimReset();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate void SimQueueReply(ref SimReply reply);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate ulong SimSuccessfulWrites();

        // A device that returns 16 full-size messages: the function's start
        // and stop frames are written once, with a bound buffer and with a
        // tiny one, and the whole answer comes back with the bound.
        private static void ADeviceExportIsCalledOnce(Core core, string corePath, string simPath)
        {
            var data = new byte[4128];
            for (int i = 0; i < data.Length; i++) data[i] = (byte)i;
            GCHandle pinned = GCHandle.Alloc(data, GCHandleType.Pinned);
            var full = new SimReply { Data = pinned.AddrOfPinnedObject(), Size = 4128, ProtocolId = 3, AfterWrites = 1 };
            const string request = "{\"name\":\"Pump\",\"mode\":\"verified\",\"startHex\":\"31 01\",\"stopHex\":\"31 00\",\"maxRunMs\":0}";
            using (var sim = new NativeLibrary(simPath))
            using (var tiny = new Core(corePath, 200))
            {
                foreach (Core caller in new[] { core, tiny })
                {
                    sim.Bind<SimReset>("sim_reset")();
                    core.OpenJ2534Dll(simPath);
                    core.TestIso9141Connect(10400);
                    core.TryFiveBaudInit(0x33);
                    for (int i = 0; i < 16; i++) sim.Bind<SimQueueReply>("sim_queue_reply")(ref full);
                    string answer = null;
                    try { answer = caller.RunSafeFunction(request); } catch (AnswerCutException) { }
                    ulong writes = sim.Bind<SimSuccessfulWrites>("sim_successful_writes")();
                    string what = caller == core ? "the bound buffer" : "a tiny buffer";
                    Expect(writes == 2, "with " + what + " start and stop frame are written once: " + writes + " writes");
                    if (caller == core)
                        Expect(answer != null && Regex.Matches(answer, "\"size\":4128,\"hex\":\"00 01 02").Count == 16 && answer.Length > 199000,
                               "the whole answer of 16 full messages comes back: " + (answer == null ? 0 : answer.Length) + " bytes");
                    else
                        Expect(answer == null, "with a tiny buffer the cut answer throws AnswerCutException");
                    core.CloseJ2534();
                }
            }
            pinned.Free();
        }

        public static int Main(string[] args)
        {
            ReadAnswerAsksAgainWithTheFullLengthPlusOne();
            // The bound is the header's VX_MAX_ANSWER_BYTES.
            var macros = new Dictionary<string, string>();
            foreach (Match m in Regex.Matches(File.ReadAllText(args[2]), @"#define (VX_\w+) ([^\n]+)")) macros[m.Groups[1].Value] = m.Groups[2].Value;
            string bound = Regex.Replace(macros["VX_MAX_ANSWER_BYTES"], @"VX_\w+", m => macros[m.Value]);
            Expect(bound == "(6 * (8 * 12549 + 9) + 2048)" && Core.MaxAnswerBytes == 6 * (8 * 12549 + 9) + 2048,
                   "MaxAnswerBytes is the header's VX_MAX_ANSWER_BYTES " + bound);

            using (var core = new Core(args[0]))
            {
                ADeviceExportIsCalledOnce(core, args[0], args[1]);
                using (var session = new Core(args[0]))
                    Expect(session.OpenJ2534Dll(args[1]).Contains("\"dll\":\"" + args[1] + "\""), "OpenJ2534Dll echoes the path");
                Expect(core.GetLastLog().EndsWith(" PassThru closed\r\n"), "Dispose closes the device");
                Expect(core.TestIso9141Connect(10400).Contains("\"simulation\":true"), "and turns simulation on");
                string answer = core.RunSafeFunction("{\"type\":\"idle\",\"name\":\"Leerlaufsteller \\\"A\\\" \u00fc\"}");
                Expect(answer.Contains("\"name\":\"Leerlaufsteller \\\"A\\\" \u00fc\""), "a request text round-trips: " + answer);
                Expect(core.ReadFaults().StartsWith("{\"ok\":true,\"mode\":\"Simulation\""), "ReadFaults gives the simulated fault answer");
                Expect(core.GetLastLog().EndsWith(" VX_ReadFaults simulation - no decoded fault rows returned yet\n"),
                       "GetLastLog returns the whole raw log");
            }

            Console.WriteLine(passed + " passed, " + failed + " failed");
            return failed == 0 ? 0 : 1;
        }
    }
}
