"""VXArvessaDiagCore from Python: one method per export, through ctypes.

    from vxdiagcore import Core

    core = Core("/usr/lib/x86_64-linux-gnu/libVXArvessaDiagCore.so.0")  # or ...\\VXArvessaDiagCore.dll
    core.open_j2534_dll("/opt/vci/libj2534.so")
    core.test_iso9141_connect(10400)
    if core.try_five_baud_init(0x33)["initOk"]:
        print(core.read_battery_voltage()["display"])
    core.close_j2534()
    print(core.get_last_log())

Standard library only (ctypes, json).
"""

from .core import Core, read_answer

__all__ = ["Core", "read_answer"]
