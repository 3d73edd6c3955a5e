"""Tests of the Python binding: the buffer convention on a stand-in export, the
rest against the built core (VXDIAG_CORE_LIBRARY) and the simulated VCI
(VXDIAG_SIM_LIBRARY); VXDIAG_HEADER optionally names the public header, and
VXSIM_INSTANT=1 keeps the simulated K-line from taking real time.

    python3 -m unittest discover -s bindings/python/tests -v   (vxdiagcore installed, or PYTHONPATH=bindings/python)
"""

import ctypes
import os
import pathlib
import re
import shutil
import tempfile
import unittest

from vxdiagcore import MAX_ANSWER_BYTES, AnswerCutError, Core, answer_buffer_size, read_answer, text_encoding
from vxdiagcore.core import _SIGNATURES

CORE_LIBRARY = os.environ.get("VXDIAG_CORE_LIBRARY")
SIM_LIBRARY = os.environ.get("VXDIAG_SIM_LIBRARY")
HEADER = pathlib.Path(
    os.environ.get("VXDIAG_HEADER") or pathlib.Path(__file__).resolve().parents[3] / "include" / "VXArvessaDiagCore.h"
)
TIMESTAMP = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d"


class BufferAndEncodingTest(unittest.TestCase):
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

    def test_windows_texts_go_in_the_ansi_code_page(self):
        # LoadLibraryA of the 32-bit core takes the ANSI code page; no Windows Python runs these tests.
        self.assertEqual(text_encoding("nt"), ("mbcs", "strict"))


class SimReply(ctypes.Structure):
    """sim_reply of sim/passthru_sim_control.h: one reply the simulated device hands out."""

    _fields_ = [("data", ctypes.c_char_p)] + [
        (name, ctypes.c_ulong) for name in ("size", "protocol_id", "rx_status", "tx_flags", "timestamp", "extra_data_index")
    ] + [("override_data_size", ctypes.c_int), ("data_size", ctypes.c_ulong), ("after_writes", ctypes.c_uint)]


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

    def test_a_session_through_a_non_ascii_path_and_with_closing_the_device(self):
        with tempfile.TemporaryDirectory(prefix="Prüfstand-ü ") as folder:
            library = shutil.copy(SIM_LIBRARY, os.path.join(folder, "passthru_ÄÖÜ.so"))
            with Core(CORE_LIBRARY) as core:
                log_before = core.get_last_log()
                opened = core.open_j2534_dll(library)
                self.assertEqual((opened["ok"], opened["stage"], opened["dll"]), (True, "PassThruOpen", library))
                connected = core.test_iso9141_connect(10400)
                self.assertEqual((connected["ok"], connected["baud"]), (True, 10400))
                initialised = core.try_five_baud_init(0x33)
                self.assertEqual((initialised["ok"], initialised["initOk"], initialised["address"]), (True, True, 51))
            self.assertEqual(core.test_iso9141_connect(10400)["stage"], "ISO9141 simulation")
        expected = (f"PassThruOpen OK dll={re.escape(library)} deviceId=\\d+",
                    "ISO9141 connect OK channelId=\\d+ baud=10400",
                    "FIVE_BAUD_INIT addr=51 rc=0 FIVE_BAUD_INIT completed\\.", "PassThru closed",
                    "ISO9141 connect simulation: no TX")
        pattern = "\n".join(f"{TIMESTAMP} {line}" for line in expected)
        self.assertRegex("\n".join(self.new_log_lines(log_before)), f"^{pattern}$")

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

    def test_a_device_export_is_called_once_whatever_its_answer(self):
        # The simulated device's back door, from the library the core loads.
        sim = ctypes.CDLL(SIM_LIBRARY)
        sim.sim_queue_reply.argtypes = [ctypes.POINTER(SimReply)]
        sim.sim_successful_writes.restype = ctypes.c_ulong
        data = bytes(range(256)) * 16 + bytes(32)  # 4,128 bytes, the whole J2534 data area
        full = SimReply(data=data, size=len(data), protocol_id=3, timestamp=0xFFFFFFFF, after_writes=1)
        request = {"name": "Pump", "mode": "verified", "startHex": "31 01", "stopHex": "31 00", "maxRunMs": 0}
        for name, core in (("bound", self.core), ("tiny buffer", Core(CORE_LIBRARY, buffer_size=200))):
            with self.subTest(name):
                sim.sim_reset()
                self.core.open_j2534_dll(SIM_LIBRARY)
                self.core.test_iso9141_connect(10400)
                self.assertTrue(self.core.try_five_baud_init(0x33)["initOk"])
                for _ in range(16):  # eight for the start frame, eight for the stop frame
                    sim.sim_queue_reply(ctypes.byref(full))
                log_before = self.core.get_last_log()
                if core is self.core:
                    answer = core.run_safe_function(request)
                    self.assertEqual((answer["ok"], len(answer["rx"]), len(answer["stopRx"])), (True, 8, 8))
                    self.assertEqual({rx["hex"] for rx in answer["rx"] + answer["stopRx"]}, {data.hex(" ").upper()})
                else:
                    self.assertRaises(AnswerCutError, core.run_safe_function, request)
                # Start and stop frame each written once, one function run in the log.
                self.assertEqual(sim.sim_successful_writes(), 2)
                self.assertEqual(sum(" FunctionExecution verified " in line for line in self.new_log_lines(log_before)), 1)
                self.core.close_j2534()

    def test_answers_of_the_exports_without_a_device_come_back_whole(self):
        self.core.set_simulation(True)
        small = Core(CORE_LIBRARY, buffer_size=8)
        for method in ("get_last_log", "list_j2534_devices", "core_version"):
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
                         set(_SIGNATURES) | {"VX_CoreVersion", "VX_SetSimulation"})
        # The buffer bound, from the header's macros.
        macros = dict(re.findall(r"#define (VX_\w+)(?:\(text_bytes\))? ([^\n]+)", HEADER.read_text()))
        expand = lambda text: re.sub(r"VX_\w+", lambda name: f"({expand(macros[name.group()])})", text)
        self.assertEqual(eval(expand("VX_MAX_ANSWER_BYTES")), MAX_ANSWER_BYTES)
        self.assertEqual(eval(expand("VX_ANSWER_BUFFER_SIZE").replace("text_bytes", "10")), answer_buffer_size(10))
        for result, export, parameters in declarations:
            with self.subTest(export):
                parameter_types = [re.sub(r"\s*\w+$", "", p) for p in parameters.split(", ") if p != "void"]
                function = getattr(self.core.library, export)
                self.assertEqual(function.restype, c_types[result])
                self.assertEqual(function.argtypes, [c_types[t] for t in parameter_types])


if __name__ == "__main__":
    unittest.main()
