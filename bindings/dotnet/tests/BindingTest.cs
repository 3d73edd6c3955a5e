// Checks of the C# binding, run under Mono by the test command:
//
//   mono BindingTest.exe <simulated VCI library>   (libVXArvessaDiagCore.so on LD_LIBRARY_PATH)
//
// The buffer convention on a stand-in export, then requests and answers
// through the built core in simulation mode. Ends with "N passed, M failed".
using System;
using System.Collections.Generic;
using System.Text;

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

        public static int Main(string[] args)
        {
            ReadAnswerAsksAgainWithTheFullLengthPlusOne();

            Expect(Core.OpenJ2534Dll(args[0]).Contains("\"dll\":\"" + args[0] + "\""), "OpenJ2534Dll echoes the path");
            Expect(Core.CloseJ2534() == "{\"ok\":true}", "CloseJ2534 answers {\"ok\":true} and turns simulation on");
            string answer = Core.RunSafeFunction("{\"type\":\"idle\",\"name\":\"Leerlaufsteller \\\"A\\\" \u00fc\"}");
            Expect(answer.Contains("\"name\":\"Leerlaufsteller \\\"A\\\" \u00fc\""), "a request text round-trips: " + answer);
            Expect(Core.ReadFaults().StartsWith("{\"ok\":true,\"mode\":\"Simulation\""), "ReadFaults gives the simulated fault answer");
            Expect(Core.GetLastLog().EndsWith(" VX_ReadFaults simulation - no decoded fault rows returned yet\n"),
                   "GetLastLog returns the whole raw log");

            Console.WriteLine(passed + " passed, " + failed + " failed");
            return failed == 0 ? 0 : 1;
        }
    }
}
