"""How `pip install ./python` builds the guidew wheel: a PEP 517 build
backend on the standard library alone, so that a fresh venv with no network
builds it (pip needs to fetch nothing: the backend requires no package).

The wheel carries the native libraries the package loads, built by the
project's CMake from the source tree this folder sits in: libGuide.so, and
for campaigns libguidesim.so with the libJSBSim.so.1 it flies JSBSim's
aircraft with. All lie in the package's folder, where guidew looks first
after GUIDEW_LIBRARY / GUIDESIM_LIBRARY, and find each other through their
run paths ($ORIGIN). The CMake build is kept in python/build/native, so a
second install rebuilds only what changed; JSBSim comes from the machine's
cache as for any build tree (docs/python.md).
"""

from __future__ import annotations

import base64
import hashlib
import os
import re
import subprocess
import sys
import sysconfig
import tomllib
import zipfile
from typing import Dict, Iterator, List, Optional, Tuple

PACKAGE_SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))  # python/
PROJECT_ROOT = os.path.dirname(PACKAGE_SOURCE)
NATIVE_BUILD = os.path.join(PACKAGE_SOURCE, "build", "native")

# The CMake targets the package loads, and the files they leave at the top
# of the build tree, as the wheel holds them (a wheel keeps no links: the
# JSBSim library goes under the name the loader asks for, its soname).
NATIVE_TARGETS = ("Guide", "GuideSim")
NATIVE_FILES = (
    ("libGuide.so", "libGuide.so"),
    ("libguidesim.so", "libguidesim.so"),
    ("libJSBSim.so.1", "libJSBSim.so.1"),
)


class BuildError(RuntimeError):
    """The native build failed; the message says where its log is."""


def _project() -> Dict[str, object]:
    with open(os.path.join(PACKAGE_SOURCE, "pyproject.toml"), "rb") as f:
        project: Dict[str, object] = tomllib.load(f)["project"]
    return project


def _version() -> str:
    with open(os.path.join(PACKAGE_SOURCE, "guidew", "_version.py")) as f:
        found = re.search(r'^__version__ = "([^"]+)"', f.read(), re.M)
    if not found:
        raise BuildError("guidew/_version.py holds no __version__")
    return found.group(1)


def _metadata(version: str) -> str:
    project = _project()
    lines = [
        "Metadata-Version: 2.1",
        "Name: %s" % project["name"],
        "Version: %s" % version,
        "Summary: %s" % project["description"],
        "Requires-Python: %s" % project["requires-python"],
    ]
    lines += ["Classifier: %s" % c for c in project.get("classifiers", [])]  # type: ignore[attr-defined]
    extras: Dict[str, List[str]] = project.get("optional-dependencies", {})  # type: ignore[assignment]
    for extra, requirements in extras.items():
        lines.append("Provides-Extra: %s" % extra)
        lines += ['Requires-Dist: %s; extra == "%s"' % (r, extra) for r in requirements]
    return "\n".join(lines) + "\n"


def _platform_tag() -> str:
    return re.sub(r"[-.]", "_", sysconfig.get_platform())


def _run(step: str, command: List[str], log: str) -> None:
    """Runs one step of the native build; its output goes to the log, and
    to pip's output (shown with pip -v) as a line per step."""
    print("guidew: %s" % step, flush=True)
    with open(log, "a") as out:
        status = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT).returncode
    if status != 0:
        with open(log) as f:
            tail = f.read()[-4000:]
        raise BuildError("guidew: %s failed (log: %s):\n%s" % (step, log, tail))


def build_native() -> str:
    """Builds the native libraries with the project's CMake; returns the
    build folder."""
    if not os.path.exists(os.path.join(PROJECT_ROOT, "CMakeLists.txt")):
        raise BuildError(
            "guidew is built from libGuide's source tree (its native libraries with it): "
            "run `pip install ./python` from a checkout, not from a copy of python/ alone"
        )
    os.makedirs(NATIVE_BUILD, exist_ok=True)
    log = os.path.join(NATIVE_BUILD, "build.log")
    open(log, "w").close()
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(len(os.sched_getaffinity(0)))
    _run(
        "configuring the native build in %s" % NATIVE_BUILD,
        ["cmake", "-S", PROJECT_ROOT, "-B", NATIVE_BUILD, "-DCMAKE_BUILD_TYPE=Release"]
        # The libraries get the run paths of an installation ($ORIGIN, to
        # find each other in the package's folder) and nothing else.
        + ["-DBUILD_TESTING=OFF", "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON"],
        log,
    )
    _run(
        "building %s" % ", ".join(NATIVE_TARGETS),
        ["cmake", "--build", NATIVE_BUILD, "-j", jobs, "--target", *NATIVE_TARGETS],
        log,
    )
    return NATIVE_BUILD


def _package_files() -> Iterator[Tuple[str, str]]:
    """(path in the wheel, file): the package's modules, py.typed and the
    replay page's script."""
    top = os.path.join(PACKAGE_SOURCE, "guidew")
    for folder, dirs, files in os.walk(top):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(files):
            if name.endswith(".py") or name in ("py.typed", "viewer.js"):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, PACKAGE_SOURCE), path


def _record_line(arcname: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (arcname, digest, len(data))


def _write_wheel(path: str, entries: List[Tuple[str, bytes, int]], dist_info: str) -> None:
    """The wheel: every entry (name, bytes, mode), then its RECORD."""
    record = []
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as wheel:
        for arcname, data, mode in entries:
            info = zipfile.ZipInfo(arcname, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
            record.append(_record_line(arcname, data))
        record.append("%s/RECORD,," % dist_info)
        wheel.writestr("%s/RECORD" % dist_info, "\n".join(record) + "\n")


def _read(path: str) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def get_requires_for_build_wheel(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def build_wheel(
    wheel_directory: str,
    config_settings: Optional[Dict[str, str]] = None,
    metadata_directory: Optional[str] = None,
) -> str:
    version = _version()
    build = build_native()
    tag = "py3-none-%s" % _platform_tag()
    dist_info = "guidew-%s.dist-info" % version
    entries = [(arc, _read(path), 0o644) for arc, path in _package_files()]
    for built, packaged in NATIVE_FILES:
        entries.append(("guidew/" + packaged, _read(os.path.join(build, built)), 0o755))
    wheel_meta = "Wheel-Version: 1.0\nGenerator: guidew_backend\nRoot-Is-Purelib: false\n"
    entries += [
        ("%s/METADATA" % dist_info, _metadata(version).encode(), 0o644),
        ("%s/WHEEL" % dist_info, ("%sTag: %s\n" % (wheel_meta, tag)).encode(), 0o644),
    ]
    name = "guidew-%s-%s.whl" % (version, tag)
    _write_wheel(os.path.join(wheel_directory, name), entries, dist_info)
    return name


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, str]] = None) -> str:
    raise BuildError(
        "guidew has no source distribution of its own: it is built with libGuide's "
        "native libraries from the project's source tree (pip install ./python)"
    )


if __name__ == "__main__":  # python3 backend/guidew_backend.py DIR: a wheel into DIR
    print(build_wheel(sys.argv[1] if len(sys.argv) > 1 else "."))
