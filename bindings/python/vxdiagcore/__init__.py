"""VXArvessaDiagCore from Python: one method per export, through ctypes.

    from vxdiagcore import Core

    with Core("/usr/lib/x86_64-linux-gnu/libVXArvessaDiagCore.so.0") as core:  # or ...\\VXArvessaDiagCore.dll
        core.open_j2534_dll("/opt/vci/libj2534.so")
        core.test_iso9141_connect(10400)
        if core.try_five_baud_init(0x33)["initOk"]:
            print(core.read_battery_voltage()["display"])
    # leaving the block closed the device (VX_CloseJ2534)

Standard library only (ctypes, json). Each export that acts on the device is
called once with a buffer its answer always fits (answer_buffer_size), never
again: a second call would repeat its action on the car.
"""

from .core import (
    MAX_ANSWER_BYTES,
    Answer,
    AnswerCutError,
    Core,
    answer_buffer_size,
    read_answer,
    read_answer_once,
    text_encoding,
)

__all__ = [
    "MAX_ANSWER_BYTES",
    "Answer",
    "AnswerCutError",
    "Core",
    "answer_buffer_size",
    "read_answer",
    "read_answer_once",
    "text_encoding",
]
