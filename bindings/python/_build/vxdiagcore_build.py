"""The package's build backend (PEP 517 and PEP 660), standard library only.

It builds the wheel of a pure-Python package, so `pip install` works on a
machine without network access and without setuptools or wheel, with or
without build isolation: the package needs nothing to be built. Name and
version come from pyproject.toml (the version is the project's; CMake checks).
"""

from __future__ import annotations

import base64
import hashlib
import pathlib
import re
import zipfile
from typing import Dict, List, Optional

_SOURCE = pathlib.Path(__file__).resolve().parents[1]
_PACKAGE = "vxdiagcore"


def _project() -> Dict[str, str]:
    text = (_SOURCE / "pyproject.toml").read_text(encoding="utf-8")
    project = text.split("[project]", 1)[1].split("\n[", 1)[0]
    return dict(re.findall(r'^(\w[\w-]*) = "([^"]*)"', project, re.MULTILINE))


def _metadata() -> str:
    project = _project()
    return (f"Metadata-Version: 2.1\nName: {project['name']}\nVersion: {project['version']}\n"
            f"Summary: {project['description']}\nRequires-Python: {project['requires-python']}\n")


def _digest(data: bytes) -> str:
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def _write_wheel(directory: str, files: Dict[str, bytes]) -> str:
    project = _project()
    dist_info = f"{project['name']}-{project['version']}.dist-info"
    name = f"{project['name']}-{project['version']}-py3-none-any.whl"
    files[f"{dist_info}/METADATA"] = _metadata().encode()
    files[f"{dist_info}/WHEEL"] = b"Wheel-Version: 1.0\nGenerator: vxdiagcore_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    record = "".join(f"{path},{_digest(data)},{len(data)}\n" for path, data in files.items())
    files[f"{dist_info}/RECORD"] = (record + f"{dist_info}/RECORD,,\n").encode()
    with zipfile.ZipFile(pathlib.Path(directory) / name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files.items():
            wheel.writestr(path, data)
    return name


def get_requires_for_build_wheel(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def get_requires_for_build_editable(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                metadata_directory: Optional[str] = None) -> str:
    package = _SOURCE / _PACKAGE
    files = {f"{_PACKAGE}/{path.name}": path.read_bytes()
             for path in sorted(package.iterdir()) if path.suffix in (".py", ".typed")}
    return _write_wheel(wheel_directory, files)


def build_editable(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                   metadata_directory: Optional[str] = None) -> str:
    # A path file puts the source folder on sys.path: edits apply at once.
    return _write_wheel(wheel_directory, {f"{_PACKAGE}.pth": f"{_SOURCE}\n".encode()})
