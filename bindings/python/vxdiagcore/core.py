"""The binding: the sixteen exports of VXArvessaDiagCore as methods of Core.

Every export is cdecl on every platform, 32-bit Windows included, so the
library is loaded with ctypes.CDLL; WinDLL would call it as stdcall and
corrupt the stack. An export writes its answer into a buffer that the caller
supplies and returns the answer's full length; an answer that did not fit is
asked for again with a buffer of that length plus one (read_answer). That
second call repeats the export's action, which is why the first buffer is
large enough for any answer but a long raw log.

JSON answers come back parsed (dict); the raw log and the version as str.
"""

import ctypes
import inspect
import json
import operator
import os

# What the one argument before the result buffer is, in Python terms.
PATH = "path"  # a file path (str, bytes, os.PathLike); None passes a null pointer
TEXT = "text"  # a str; None passes a null pointer, which the core reads as ""
REQUEST = "request"  # a dict, sent as JSON text, or the JSON text itself
UNSIGNED = "unsigned"  # an int from 0 to 2**32 - 1
UNUSED = "unused"  # a pointer the core never reads: the method takes nothing

# The exports with a result buffer: method, export, argument kind, the
# method's parameter name, and the Python type of the answer.
EXPORTS = (
    ("get_last_log", "VX_GetLastLog", None, None, str),
    ("list_j2534_devices", "VX_ListJ2534Devices", None, None, dict),
    ("open_j2534_dll", "VX_OpenJ2534Dll", PATH, "path", dict),
    ("close_j2534", "VX_CloseJ2534", None, None, dict),
    ("test_iso9141_connect", "VX_TestIso9141Connect", UNSIGNED, "baud", dict),
    ("try_five_baud_init", "VX_TryFiveBaudInit", UNSIGNED, "address", dict),
    ("kline_activity_probe", "VX_KLineActivityProbe", None, None, dict),
    ("protocol_traffic_probe", "VX_ProtocolTrafficProbe", TEXT, "protocol", dict),
    ("read_battery_voltage", "VX_ReadBatteryVoltage", None, None, dict),
    ("read_faults", "VX_ReadFaults", UNUSED, None, dict),
    ("read_live_data", "VX_ReadLiveData", UNUSED, None, dict),
    ("run_safe_function", "VX_RunSafeFunction", REQUEST, "request", dict),
    ("run_actuator_kwp71", "VX_RunActuatorKwp71", REQUEST, "request", dict),
    ("clear_fault_memory", "VX_ClearFaultMemory", REQUEST, "request", dict),
)

# Large enough for every answer of a session; only a long raw log needs a
# second call.
DEFAULT_BUFFER_SIZE = 64 * 1024

_ENCODING = "utf-8"
# Texts are bytes to the core: bytes that are not UTF-8 survive a round trip.
_ERRORS = "surrogateescape"


def read_answer(call, size=DEFAULT_BUFFER_SIZE):
    """Runs call(buffer, size) by the buffer convention until the answer fits.

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
            return buffer.raw[:length].decode(_ENCODING, _ERRORS)
        size = length + 1


def _text_bytes(text):
    if text is None:
        return None
    data = text if isinstance(text, bytes) else text.encode(_ENCODING, _ERRORS)
    if b"\0" in data:
        raise ValueError("a text for the core cannot hold a NUL character")
    return data


def _request_bytes(request):
    # The core reads requests byte by byte and does not decode \u escapes, so
    # characters beyond ASCII are sent as their UTF-8 bytes, not escaped.
    if isinstance(request, dict):
        request = json.dumps(request, ensure_ascii=False, separators=(",", ":"))
    return _text_bytes(request)


def _unsigned(value):
    number = operator.index(value)
    if not 0 <= number <= 0xFFFFFFFF:
        raise ValueError(f"{number} is not an unsigned 32-bit number")
    return number


_ARGUMENTS = {
    PATH: (ctypes.c_char_p, lambda path: None if path is None else _text_bytes(os.fsencode(path))),
    TEXT: (ctypes.c_char_p, _text_bytes),
    REQUEST: (ctypes.c_char_p, _request_bytes),
    UNSIGNED: (ctypes.c_uint, _unsigned),
    UNUSED: (ctypes.c_char_p, lambda _: None),
}


def _export_method(method_name, export, kind, parameter, answer_type):
    convert = _ARGUMENTS[kind][1] if kind else None

    def method(self, *argument):
        if len(argument) != (1 if parameter else 0):
            raise TypeError(f"{method_name}() takes {'1 argument' if parameter else 'no arguments'}")
        value = argument[0] if argument else None
        arguments = () if kind is None else (convert(value),)
        function = getattr(self.library, export)
        text = read_answer(lambda buffer, size: function(*arguments, buffer, size), self.buffer_size)
        return json.loads(text) if answer_type is dict else text

    method.__name__ = method.__qualname__ = method_name
    method.__doc__ = f"{export}; returns its answer as {answer_type.__name__} (see VXArvessaDiagCore.h)."
    parameters = [inspect.Parameter("self", inspect.Parameter.POSITIONAL_ONLY)]
    if parameter:
        parameters.append(inspect.Parameter(parameter, inspect.Parameter.POSITIONAL_ONLY))
    method.__signature__ = inspect.Signature(parameters)
    return method


class Core:
    """The core library, loaded by path; one method per export.

    The core is one process-wide state behind a lock: any thread may call,
    and calls run one at a time.
    """

    def __init__(self, library_path, buffer_size=DEFAULT_BUFFER_SIZE):
        self.library = ctypes.CDLL(os.fspath(library_path))
        self.buffer_size = buffer_size
        self.library.VX_CoreVersion.argtypes = []
        self.library.VX_CoreVersion.restype = ctypes.c_char_p
        self.library.VX_SetSimulation.argtypes = [ctypes.c_int]
        self.library.VX_SetSimulation.restype = ctypes.c_int
        for _, export, kind, _, _ in EXPORTS:
            function = getattr(self.library, export)
            before_buffer = [_ARGUMENTS[kind][0]] if kind else []
            function.argtypes = before_buffer + [ctypes.POINTER(ctypes.c_char), ctypes.c_int]
            function.restype = ctypes.c_int

    def core_version(self):
        """VX_CoreVersion: the core's constant identification text."""
        return self.library.VX_CoreVersion().decode(_ENCODING, _ERRORS)

    def set_simulation(self, on):
        """VX_SetSimulation: turns the simulation switch on or off; returns 0."""
        return self.library.VX_SetSimulation(1 if on else 0)


for _row in EXPORTS:
    setattr(Core, _row[0], _export_method(*_row))
del _row
