"""The binding: the sixteen exports of VXArvessaDiagCore as methods of Core.

Every export is cdecl on every platform, 32-bit Windows included, so the
library is loaded with ctypes.CDLL; WinDLL would call it as stdcall and
corrupt the stack.

An export writes its answer into a buffer that the caller supplies and
returns the answer's full length. An export that acts on the device is called
exactly once, with a buffer of VX_ANSWER_BUFFER_SIZE (the header's bound on
its answer): calling it again to fetch a longer answer would repeat what it
did on the car, a second start frame, a valve run twice. A cut answer, which
the bound rules out, raises AnswerCutError. Only VX_GetLastLog and
VX_ListJ2534Devices, which act on no device, are asked again with a larger
buffer (read_answer).

Text arguments go to the core as the bytes its loader takes: the ANSI code
page on Windows (the 32-bit core calls LoadLibraryA), the file-system
encoding elsewhere; answers come back decoded the same way. JSON answers are
returned parsed (dict); the raw log and the version as str.
"""

from __future__ import annotations

import ctypes
import json
import operator
import os
import sys
from types import TracebackType
from typing import Any, Callable, Dict, Optional, Tuple, Type, Union

# The header's bound on every answer but the raw log's and the device list's
# (VXArvessaDiagCore.h explains the arithmetic; a test compares the two).
MAX_ANSWER_BYTES = 6 * (8 * 12549 + 9) + 2048

# A parsed JSON answer.
Answer = Dict[str, Any]
# A file path as the os module takes one.
PathArgument = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
# A request: a dict sent as JSON text, or the JSON text itself.
Request = Union[Answer, str, bytes]

_Export = Callable[..., int]


def answer_buffer_size(text_bytes: int = 0) -> int:
    """VX_ANSWER_BUFFER_SIZE: the buffer for a call with a text argument of
    text_bytes bytes; the answer of a device export always fits it."""
    return MAX_ANSWER_BYTES + 6 * text_bytes + 1


def text_encoding(system: str = os.name) -> Tuple[str, str]:
    """The encoding and error handler of the texts the core reads and writes
    on the system named as os.name names it."""
    if system == "nt":
        return "mbcs", "strict"
    return sys.getfilesystemencoding(), sys.getfilesystemencodeerrors()


_ENCODING, _ERRORS = text_encoding()


class AnswerCutError(RuntimeError):
    """A device export's answer did not fit its buffer. The export is not
    called again: that would repeat its action on the device."""


def _decode(data: bytes) -> str:
    return data.decode(_ENCODING, "replace" if _ERRORS == "strict" else _ERRORS)


def read_answer(call: Callable[[Any, int], int], size: int = 64 * 1024) -> str:
    """Runs call(buffer, size) by the buffer convention until the answer fits:
    only for the exports that act on no device.

    The export copies min(size - 1, length) bytes and a NUL and returns the
    full length, so length >= size means a cut answer: call again with
    length + 1 bytes. A raw log that grew in between takes one more round.
    """
    while True:
        buffer = ctypes.create_string_buffer(size)
        length = call(buffer, size)
        if length < 0:
            raise RuntimeError(f"the core returned the length {length}")
        if length < size:
            return _decode(buffer.raw[:length])
        size = length + 1


def read_answer_once(call: Callable[[Any, int], int], size: int) -> str:
    """Runs call(buffer, size) once; a cut answer raises AnswerCutError."""
    buffer = ctypes.create_string_buffer(size)
    length = call(buffer, size)
    if length < 0:
        raise RuntimeError(f"the core returned the length {length}")
    if length >= size:
        raise AnswerCutError(f"an answer of {length} bytes did not fit the buffer of {size} bytes")
    return _decode(buffer.raw[:length])


def _text_bytes(text: Union[str, bytes, None]) -> Optional[bytes]:
    if text is None:
        return None
    data = text if isinstance(text, bytes) else text.encode(_ENCODING, _ERRORS)
    if b"\0" in data:
        raise ValueError("a text for the core cannot hold a NUL character")
    return data


def _path_bytes(path: Optional[PathArgument]) -> Optional[bytes]:
    if path is None:
        return None
    path = os.fspath(path)
    return _text_bytes(path)


def _request_bytes(request: Optional[Request]) -> Optional[bytes]:
    # The core reads requests byte by byte and does not decode \u escapes, so
    # characters beyond ASCII are sent as their bytes, not escaped.
    if isinstance(request, dict):
        request = json.dumps(request, ensure_ascii=False, separators=(",", ":"))
    return _text_bytes(request)


def _unsigned(value: int) -> int:
    number = operator.index(value)
    if not 0 <= number <= 0xFFFFFFFF:
        raise ValueError(f"{number} is not an unsigned 32-bit number")
    return number


_BUFFER = ctypes.POINTER(ctypes.c_char)
# Each export with a result buffer: its argument types before the buffer.
_SIGNATURES: Dict[str, Tuple[Any, ...]] = {
    "VX_GetLastLog": (),
    "VX_ListJ2534Devices": (),
    "VX_OpenJ2534Dll": (ctypes.c_char_p,),
    "VX_CloseJ2534": (),
    "VX_TestIso9141Connect": (ctypes.c_uint,),
    "VX_TryFiveBaudInit": (ctypes.c_uint,),
    "VX_KLineActivityProbe": (),
    "VX_ProtocolTrafficProbe": (ctypes.c_char_p,),
    "VX_ReadBatteryVoltage": (),
    "VX_ReadFaults": (ctypes.c_char_p,),
    "VX_ReadLiveData": (ctypes.c_char_p,),
    "VX_RunSafeFunction": (ctypes.c_char_p,),
    "VX_RunActuatorKwp71": (ctypes.c_char_p,),
    "VX_ClearFaultMemory": (ctypes.c_char_p,),
}


class Core:
    """The core library, loaded by its full path; one method per export.

        with Core("/usr/lib/x86_64-linux-gnu/libVXArvessaDiagCore.so.0") as core:
            core.open_j2534_dll("/opt/vci/libj2534.so")
            ...
        # leaving the block called VX_CloseJ2534

    The core is one process-wide state behind a lock: any thread may call,
    and calls run one at a time. buffer_size replaces the bound for the
    device exports' buffer (only to see AnswerCutError in a test).
    """

    def __init__(self, library_path: PathArgument, buffer_size: Optional[int] = None) -> None:
        self.library = ctypes.CDLL(os.fsdecode(library_path))
        self.buffer_size = buffer_size
        self.library.VX_CoreVersion.argtypes = []
        self.library.VX_CoreVersion.restype = ctypes.c_char_p
        self.library.VX_SetSimulation.argtypes = [ctypes.c_int]
        self.library.VX_SetSimulation.restype = ctypes.c_int
        for export, before_buffer in _SIGNATURES.items():
            function = getattr(self.library, export)
            function.argtypes = [*before_buffer, _BUFFER, ctypes.c_int]
            function.restype = ctypes.c_int

    def __enter__(self) -> Core:
        return self

    def __exit__(
        self,
        kind: Optional[Type[BaseException]],
        error: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> None:
        self.close()

    def close(self) -> None:
        """Releases the channel, the device and the PassThru library
        (VX_CloseJ2534); the core stays loaded."""
        self.close_j2534()

    def _export(self, name: str) -> _Export:
        function: _Export = getattr(self.library, name)
        return function

    def _device_call(self, name: str, *argument: Any) -> Answer:
        # One call, never two: see the module's text.
        text = argument[0] if argument and isinstance(argument[0], bytes) else b""
        size = self.buffer_size if self.buffer_size is not None else answer_buffer_size(len(text))
        function = self._export(name)
        answer: Answer = json.loads(read_answer_once(lambda buffer, n: function(*argument, buffer, n), size))
        return answer

    # Library frame

    def core_version(self) -> str:
        """VX_CoreVersion: the core's constant identification text."""
        version: bytes = self.library.VX_CoreVersion()
        return _decode(version)

    def set_simulation(self, on: bool) -> int:
        """VX_SetSimulation: turns the simulation switch on or off; returns 0."""
        return int(self.library.VX_SetSimulation(1 if on else 0))

    def get_last_log(self) -> str:
        """VX_GetLastLog: the whole raw log."""
        function = self._export("VX_GetLastLog")
        return read_answer(lambda buffer, size: function(buffer, size))

    # J2534 binding and discovery

    def list_j2534_devices(self) -> Answer:
        """VX_ListJ2534Devices: the registered PassThru libraries."""
        function = self._export("VX_ListJ2534Devices")
        answer: Answer = json.loads(read_answer(lambda buffer, size: function(buffer, size)))
        return answer

    def open_j2534_dll(self, path: Optional[PathArgument]) -> Answer:
        """VX_OpenJ2534Dll: loads the PassThru library at path and opens its
        device; None passes a null pointer, which the core refuses."""
        return self._device_call("VX_OpenJ2534Dll", _path_bytes(path))

    def close_j2534(self) -> Answer:
        """VX_CloseJ2534: releases channel, device and library."""
        return self._device_call("VX_CloseJ2534")

    # K-line channel

    def test_iso9141_connect(self, baud: int) -> Answer:
        """VX_TestIso9141Connect: connects the ISO 9141 channel (0 means 9600)."""
        return self._device_call("VX_TestIso9141Connect", _unsigned(baud))

    def try_five_baud_init(self, address: int) -> Answer:
        """VX_TryFiveBaudInit: wakes the ECU at address with the 5-baud init."""
        return self._device_call("VX_TryFiveBaudInit", _unsigned(address))

    # Probes

    def kline_activity_probe(self) -> Answer:
        """VX_KLineActivityProbe: checks that the interface drives the K-line."""
        return self._device_call("VX_KLineActivityProbe")

    def protocol_traffic_probe(self, protocol: Union[str, bytes, None]) -> Answer:
        """VX_ProtocolTrafficProbe: audits traffic for the protocol named."""
        return self._device_call("VX_ProtocolTrafficProbe", _text_bytes(protocol))

    # Readings

    def read_battery_voltage(self) -> Answer:
        """VX_ReadBatteryVoltage: the battery voltage the interface measures."""
        return self._device_call("VX_ReadBatteryVoltage")

    def read_faults(self) -> Answer:
        """VX_ReadFaults: requests the stored trouble codes."""
        return self._device_call("VX_ReadFaults", None)

    def read_live_data(self) -> Answer:
        """VX_ReadLiveData: requests the supported parameters."""
        return self._device_call("VX_ReadLiveData", None)

    # ECU commands

    def run_safe_function(self, request: Optional[Request]) -> Answer:
        """VX_RunSafeFunction: runs an ECU function mapped to raw frames."""
        return self._device_call("VX_RunSafeFunction", _request_bytes(request))

    def run_actuator_kwp71(self, request: Optional[Request]) -> Answer:
        """VX_RunActuatorKwp71: sends one KWP71 actuator block."""
        return self._device_call("VX_RunActuatorKwp71", _request_bytes(request))

    def clear_fault_memory(self, request: Optional[Request]) -> Answer:
        """VX_ClearFaultMemory: clears the fault memory with the mapped command."""
        return self._device_call("VX_ClearFaultMemory", _request_bytes(request))
