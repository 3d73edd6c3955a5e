"""Tests of the Python binding.

The buffer convention is tested on a stand-in export; everything else against
the built core and the simulated VCI, named by the environment:

    VXDIAG_CORE_LIBRARY  the core (libVXArvessaDiagCore.so or VXArvessaDiagCore.dll)
    VXDIAG_SIM_LIBRARY   the simulated VCI
    VXDIAG_HEADER        optional: the public header (default: this tree's)
    VXSIM_INSTANT=1      keeps the simulated K-line from taking real time

    PYTHONPATH=bindings/python python3 -m unittest discover -s bindings/python/tests -v
"""

import ctypes
import os
import pathlib
import re
import unittest

from vxdiagcore import Core, read_answer
from vxdiagcore.core import EXPORTS

CORE_LIBRARY = os.environ.get("VXDIAG_CORE_LIBRARY")
SIM_LIBRARY = os.environ.get("VXDIAG_SIM_LIBRARY")
HEADER = pathlib.Path(
    os.environ.get("VXDIAG_HEADER") or pathlib.Path(__file__).resolve().parents[3] / "include" / "VXArvessaDiagCore.h"
)
TIMESTAMP = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d"


class ReadAnswerTest(unittest.TestCase):
    # Answers an export gives on its successive calls, the first buffer size,
    # and the buffer sizes the binding must pass.
    CASES = (
        ("fits", ["{}"], 16, [16]),
        ("one byte short of fitting", ["x" * 16], 16, [16, 17]),
        ("cut", ["x" * 40], 16, [16, 41]),
        ("grew between the calls", ["x" * 40, "y" * 50], 16, [16, 41, 51]),
        ("empty", [""], 1, [1]),
    )

    def test_asks_again_with_the_full_length_plus_one(self):
        for name, answers, first_size, expected_sizes in self.CASES:
            with self.subTest(name):
                sizes = []

                def export(buffer, size):
                    # The core's side of the convention.
                    text = answers[min(len(sizes), len(answers) - 1)].encode()
                    sizes.append(size)
                    if len(sizes) > len(expected_sizes):
                        raise AssertionError(f"called again with {sizes}")
                    copied = min(size - 1, len(text))
                    ctypes.memmove(buffer, text[:copied] + b"\0", copied + 1)
                    return len(text)

                self.assertEqual(read_answer(export, first_size), answers[-1])
                self.assertEqual(sizes, expected_sizes)


@unittest.skipUnless(CORE_LIBRARY and SIM_LIBRARY, "VXDIAG_CORE_LIBRARY and VXDIAG_SIM_LIBRARY are not set")
class CoreTest(unittest.TestCase):
    def setUp(self):
        self.core = Core(CORE_LIBRARY)
        # The core is one state per process: start every test with no device.
        self.core.close_j2534()
        self.core.set_simulation(False)

    def new_log_lines(self, log_before):
        log = self.core.get_last_log()
        self.assertTrue(log.startswith(log_before))
        return log[len(log_before) :].split("\r\n")[:-1]

    def test_session_against_the_simulated_vci(self):
        log_before = self.core.get_last_log()
        opened = self.core.open_j2534_dll(SIM_LIBRARY)
        self.assertEqual((opened["ok"], opened["stage"], opened["dll"]), (True, "PassThruOpen", SIM_LIBRARY))
        connected = self.core.test_iso9141_connect(10400)
        self.assertEqual((connected["ok"], connected["baud"]), (True, 10400))
        initialised = self.core.try_five_baud_init(0x33)
        self.assertEqual((initialised["ok"], initialised["initOk"], initialised["address"]), (True, True, 51))
        self.assertEqual(self.core.close_j2534(), {"ok": True})

        expected_lines = (
            f"PassThruOpen OK dll={re.escape(SIM_LIBRARY)} deviceId=\\d+",
            "ISO9141 connect OK channelId=\\d+ baud=10400",
            "FIVE_BAUD_INIT addr=51 rc=0 FIVE_BAUD_INIT completed\\.",
            "PassThru closed",
        )
        lines = self.new_log_lines(log_before)
        self.assertEqual(len(lines), len(expected_lines), lines)
        for line, expected in zip(lines, expected_lines):
            self.assertRegex(line, f"^{TIMESTAMP} {expected}$")

    def test_requests_reach_the_core_as_written(self):
        self.core.set_simulation(True)
        name = 'Leerlaufsteller "A" ü'
        requests = (
            {"type": "idle", "name": name, "backendForwardFallbackProbe": True},
            '{"type":"idle","name":"Leerlaufsteller \\"A\\" ü"}',
            '{"type":"idle","name":"Leerlaufsteller \\"A\\" ü"}'.encode(),
        )
        for request in requests:
            with self.subTest(request=request):
                answer = self.core.run_safe_function(request)
                self.assertEqual((answer["simulation"], answer["type"], answer["name"]), (True, "idle", name))
        self.assertEqual(self.core.run_safe_function(None)["name"], "")

    def test_answers_of_any_length_come_back_whole(self):
        self.core.set_simulation(True)
        small = Core(CORE_LIBRARY, buffer_size=8)
        for method in ("get_last_log", "list_j2534_devices", "read_battery_voltage", "read_faults", "core_version"):
            with self.subTest(method):
                self.assertEqual(getattr(small, method)(), getattr(self.core, method)())

    def test_bad_arguments_stop_in_python(self):
        for call, error in (
            (lambda: self.core.test_iso9141_connect(-1), ValueError),
            (lambda: self.core.try_five_baud_init(1 << 32), ValueError),
            (lambda: self.core.try_five_baud_init("0x33"), TypeError),
            (lambda: self.core.protocol_traffic_probe("KWP71\0"), ValueError),
            (lambda: self.core.open_j2534_dll(), TypeError),
        ):
            with self.subTest(error=error):
                self.assertRaises(error, call)
        # None is passed on as a null pointer, which the core refuses by itself.
        self.assertEqual(self.core.open_j2534_dll(None)["rc"], -100)

    def test_binding_follows_the_header(self):
        c_types = {"const char*": ctypes.c_char_p, "char*": ctypes.POINTER(ctypes.c_char), "int": ctypes.c_int,
                   "unsigned int": ctypes.c_uint}
        declarations = re.findall(r"VX_API (.+?) VX_CALL (VX_\w+)\((.*?)\);", HEADER.read_text())
        self.assertEqual(len(declarations), 16)
        self.assertEqual({export for _, export, *_ in declarations},
                         {row[1] for row in EXPORTS} | {"VX_CoreVersion", "VX_SetSimulation"})
        for result, export, parameters in declarations:
            with self.subTest(export):
                parameter_types = [re.sub(r"\s*\w+$", "", p) for p in parameters.split(", ") if p != "void"]
                function = getattr(self.core.library, export)
                self.assertEqual(function.restype, c_types[result])
                self.assertEqual(function.argtypes, [c_types[t] for t in parameter_types])


if __name__ == "__main__":
    unittest.main()
