"""Loads Intel's runtime before the extensions need it, from wherever pip put it.

The extensions depend on ``libmkl_rt.so.3`` by name. pip puts the ``mkl`` wheel's
library in a data directory of the environment it installs into, which is not where
the extensions' RUNPATH looks in every layout (a ``--user`` install beside an
environment's mkl, a lib64 platlib), and the runtime opens its threading layer later
by name, where the linker may not find intel-openmp's or tbb's library either. So the
libraries are located through their distributions' installed file records and loaded
globally first; the extensions' own lookup of ``libmkl_rt.so.3`` then finds the loaded
one. Where no record has them, the linker's search is the fallback.
"""

from __future__ import annotations

import ctypes
import os
import posixpath
import re
import sys
from os import path as _path

RUNTIME = "libmkl_rt.so.3"
OLDEST = (2026, 0)
# Used when the package's own metadata cannot be read (a source tree on sys.path).
REQUIREMENT = "mkl>=2026.0,!=2026.2.0,<2027"

# The libraries the runtime's threading layers need besides its own, and the
# distribution that ships each. The GNU layer's libgomp comes with the system.
THREADING_NEEDS = {
    "INTEL": ("libiomp5.so", "intel-openmp"),
    "TBB": ("libtbb.so.12", "tbb"),
}
THREADING_LIBRARIES = {
    "INTEL": "libmkl_intel_thread.so.3",
    "TBB": "libmkl_tbb_thread.so.3",
    "GNU": "libmkl_gnu_thread.so.3",
    "SEQUENTIAL": "libmkl_sequential.so.3",
}
INTERFACE_LIBRARIES = {"INTEL": "libmkl_intel_lp64.so.3", "GNU": "libmkl_gf_lp64.so.3"}
CORE = "libmkl_core.so.3"
# The runtime's vector math kernels, one library per code path, which it opens at its
# first math call: under MKL_CBWR=COMPATIBLE the compatible path; otherwise the generic
# path, or on an Intel processor the path of the best instruction set it has (or that
# MKL_ENABLE_INSTRUCTIONS allows), each named with the flags /proc/cpuinfo shows for it.
COMPATIBLE_KERNELS = "libmkl_vml_cmpt.so.3"
GENERIC_KERNELS = "libmkl_vml_def.so.3"
TUNED_KERNELS = {
    "libmkl_vml_mc3.so.3": {"sse4_2"},
    "libmkl_vml_avx2.so.3": {"avx2", "fma"},
    "libmkl_vml_avx512.so.3": {"avx512f", "avx512cd", "avx512bw", "avx512dq", "avx512vl"},
}


class RuntimeNotLoadable(ImportError):
    """The runtime, or a library it needs, cannot be loaded in this environment."""


SUBINTERPRETER = (
    "vantrel.mkl.tessivec and vantrel.mkl.vm cannot be imported in a subinterpreter: the "
    "runtime keeps its mode, error status and error callback per OS thread, for every "
    "interpreter of the process at once, and a callback would outlive the interpreter "
    "that set it. Import them in the main interpreter.")


def in_subinterpreter() -> bool:
    """Whether this code runs in an interpreter other than the process's main one."""
    state = ctypes.PYFUNCTYPE(ctypes.c_void_p)
    current = state(("PyInterpreterState_Get", ctypes.pythonapi))
    main = state(("PyInterpreterState_Main", ctypes.pythonapi))
    return current() != main()


def requirement(distribution: str) -> str:
    """This package's requirement on ``distribution``, as its metadata states it."""
    from importlib import metadata
    try:
        for line in metadata.requires("vantrel-mkl") or ():
            name = re.match(r"[A-Za-z0-9._-]+", line)
            if name and name.group().lower() == distribution:
                return line.split(";")[0].replace(" ", "")
    except metadata.PackageNotFoundError:
        pass
    return REQUIREMENT if distribution == "mkl" else distribution


def pip_command(requirement_text: str, *options: str) -> str:
    return " ".join([sys.executable, "-m", "pip", "install", *options,
                     f"'{requirement_text}'"])


# Paths are strings here: pathlib (with urllib and ipaddress behind it) would add a
# third to the package's import time.
def recorded_files(distribution: str, file_name: str) -> tuple[list[str], list[str]]:
    """The paths at which installed copies of ``distribution`` record ``file_name``:
    (those that exist, those recorded but missing), in sys.path order."""
    from importlib import metadata  # only where the usual layout did not have it
    present, missing = [], []
    seen = set()
    for dist in metadata.distributions(name=distribution):
        for record in recorded_paths(dist):
            if posixpath.basename(record) != file_name:
                continue
            path = _path.normpath(str(dist.locate_file(record)))
            if path in seen:
                continue
            seen.add(path)
            (present if _path.isfile(path) else missing).append(path)
    return present, missing


def recorded_paths(dist) -> list[str]:
    """Every path in the distribution's RECORD, present or not (``dist.files`` leaves
    out the missing ones on Python 3.12 and newer)."""
    import csv
    record = dist.read_text("RECORD")
    if record is None:
        return [str(path) for path in dist.files or ()]
    return [row[0] for row in csv.reader(record.splitlines()) if row]


def _load_global(name: str) -> ctypes.CDLL:
    return ctypes.CDLL(name, mode=ctypes.RTLD_GLOBAL)


def chosen_layer(variable: str, default: str) -> str:
    """The first word of an MKL_*_LAYER variable, as the runtime reads it."""
    value = os.environ.get(variable, "").strip().upper()
    return value.replace(",", " ").split()[0] if value else default


def _preload_threading(layer: str, directory: str | None) -> None:
    need = THREADING_NEEDS.get(layer)
    if need is None:
        return
    file_name, distribution = need
    beside = _path.join(directory, file_name) if directory is not None else None
    if beside is not None and _path.isfile(beside):  # the usual layout: one lib directory
        present = [beside]
    else:
        present, _ = recorded_files(distribution, file_name)
    for path in present:
        try:
            _load_global(path)
            return
        except OSError:
            continue
    try:
        _load_global(file_name)
    except OSError:
        raise RuntimeNotLoadable(
            f"MKL_THREADING_LAYER={layer} needs {file_name} from the '{distribution}' "
            f"package, which is not installed where Python or the linker can find it. "
            f"Install it with: {pip_command(requirement(distribution))}"
        ) from None


def _load_runtime() -> tuple[ctypes.CDLL, str | None]:
    """The runtime by its file record, else by the extensions' RUNPATH, else by the
    linker's search; with the directory it came from, where known."""
    # <prefix>/lib/pythonX.Y/site-packages/vantrel/mkl/_runtime.py
    usual = _path.join(_path.dirname(_path.realpath(__file__)), *[_path.pardir] * 4, RUNTIME)
    if _path.isfile(usual):
        # The usual layout, where the extensions' RUNPATH finds it: no records read.
        present, missing = [_path.normpath(usual)], []
    else:
        present, missing = recorded_files("mkl", RUNTIME)
    failures = []
    for path in present:
        try:
            _load_global(path)
            break
        except OSError as error:
            failures.append(str(error))
    try:
        # By name: the copy the extensions will bind to, which is the one loaded first.
        runtime = _load_global(RUNTIME)
    except OSError:
        failures.append(f"{RUNTIME} is not on the linker's search path")
        if missing:
            # Installed elsewhere, pip would take that copy for the requirement met.
            why = (f"the 'mkl' package is installed, but its {RUNTIME} is not at "
                   f"{missing[0]} (pip install --target leaves out the library; "
                   f"install mkl into the environment itself)")
            fix = pip_command(requirement("mkl"), "--ignore-installed")
        else:
            why = f"the 'mkl' package, which provides {RUNTIME}, is not installed"
            fix = pip_command(requirement("mkl"))
        raise RuntimeNotLoadable(
            f"vantrel.mkl needs Intel's runtime {RUNTIME}: {why}; "
            f"{'; '.join(failures)}. Install it with: {fix}") from None
    return runtime, loaded_directory()


def loaded_directory() -> str | None:
    """The directory of the libmkl_rt.so.3 mapped into this process, if any."""
    for path in mapped_libraries():
        if _path.basename(path) == RUNTIME:
            return _path.dirname(path)
    return None


def mapped_libraries() -> list[str]:
    """The files of the shared libraries mapped into this process, in load order."""
    seen: dict[str, None] = {}
    try:
        with open("/proc/self/maps") as maps:
            for line in maps:
                fields = line.split(maxsplit=5)
                if len(fields) == 6 and ".so" in fields[5]:
                    seen.setdefault(fields[5].strip(), None)
    except OSError:
        return []
    return list(seen)


def version_string(runtime: ctypes.CDLL) -> str:
    buffer = ctypes.create_string_buffer(512)
    runtime.MKL_Get_Version_String(buffer, len(buffer))
    return buffer.value.decode(errors="replace").strip()


def version(runtime: ctypes.CDLL) -> tuple[int, int] | None:
    found = re.search(r"Version (\d+)\.(\d+)", version_string(runtime))
    return (int(found.group(1)), int(found.group(2))) if found else None


def wheel_version(directory: str | None, site: str | None = None) -> tuple[int, int] | None:
    """The version of the mkl wheel whose library was loaded, where it was loaded from the
    environment this package is installed into: read from the name of the wheel's
    metadata directory beside this package. Asking the runtime loads its core and layer
    libraries, half of the package's import time, which its first call loads anyway."""
    if site is None:
        site = _path.dirname(_path.dirname(_path.dirname(_path.realpath(__file__))))
    prefix_lib = _path.realpath(_path.join(site, _path.pardir, _path.pardir))
    if directory is None or _path.realpath(directory) != prefix_lib:
        return None
    try:
        names = os.listdir(site)
    except OSError:
        return None
    found = [re.fullmatch(r"mkl-(\d+)\.(\d+)(\.[^-]*)?\.dist-info", name) for name in names]
    versions = {(int(m.group(1)), int(m.group(2))) for m in found if m}
    return versions.pop() if len(versions) == 1 else None


def processor() -> dict[str, str]:
    """The first processor's fields in /proc/cpuinfo (vendor_id, model name, flags)."""
    fields: dict[str, str] = {}
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if not line.strip():
                    break
                key, _, value = line.partition(":")
                fields.setdefault(key.strip(), value.strip())
    except OSError:
        pass
    return fields


def kernel_libraries_needed() -> list[str]:
    """The vector math kernel libraries the runtime may open on this processor, with
    this environment's settings."""
    branch = os.environ.get("MKL_CBWR", "").split(",")[0].strip().upper()
    if branch.removeprefix("BRANCH=") == "COMPATIBLE":
        return [COMPATIBLE_KERNELS]
    found = processor()
    if found.get("vendor_id") != "GenuineIntel":
        return [GENERIC_KERNELS]
    flags = set(found.get("flags", "").split())
    return [GENERIC_KERNELS] + [name for name, needs in TUNED_KERNELS.items() if needs <= flags]


def needed_libraries() -> list[tuple[str, str]]:
    """The libraries the runtime opens by itself beside libmkl_rt.so.3, at its first
    call, and what needs each."""
    layers = "the layers chosen by MKL_THREADING_LAYER/MKL_INTERFACE_LAYER need"
    wanted = [(CORE, "every call of the runtime needs"),
              (THREADING_LIBRARIES.get(chosen_layer("MKL_THREADING_LAYER", "INTEL")), layers),
              (INTERFACE_LIBRARIES.get(interface_flavour()), layers)]
    wanted += [(name, "its vector math functions need on this processor")
               for name in kernel_libraries_needed()]
    return [(name, why) for name, why in wanted if name]


def _check(runtime: ctypes.CDLL, directory: str | None) -> None:
    where = f" at {_path.join(directory, RUNTIME)}" if directory else ""
    if directory is not None:
        # The runtime opens these by itself at its first call, this check's version
        # query included, and ends the process with status 2 when one is missing.
        for name, why in needed_libraries():
            if not _path.isfile(_path.join(directory, name)):
                raise RuntimeNotLoadable(
                    f"Intel's runtime{where} lacks {name}, which {why}. Install a complete "
                    f"runtime with: {pip_command(requirement('mkl'), '--force-reinstall')}")
    found = wheel_version(directory) or version(runtime)
    if found is None or found < OLDEST:
        shown = f"{found[0]}.{found[1]}" if found else "of unknown version"
        raise RuntimeNotLoadable(
            f"Intel's runtime {RUNTIME}{where} is {shown}; vantrel.mkl needs "
            f"{OLDEST[0]}.{OLDEST[1]} or newer. Install it with: "
            f"{pip_command(requirement('mkl'))}")


def missing_vm_functions(runtime: ctypes.CDLL) -> list[str]:
    """The runtime functions that vm calls and lib does not offer which this runtime
    lacks. A runtime of the oldest version admitted has them all."""
    from ._catalogue.functions import vm_only_functions
    return [f.runtime_symbol for f in vm_only_functions()
            if not hasattr(runtime, f.runtime_symbol)]


def vm_load_error(error: ImportError) -> ImportError:
    """Why vm's extension did not load: a runtime without functions it binds when it
    loads (lib, which calls none of them, loads all the same) fails it with the linker's
    bare 'undefined symbol', which this names with the pip command; any other error is
    its own. Read only when the extension fails, so that vm's import reads no
    catalogue."""
    try:
        missing = missing_vm_functions(ctypes.CDLL(RUNTIME))
    except (ImportError, OSError):  # no catalogue (no cffi) or no runtime: said elsewhere
        return error
    if not missing:
        return error
    location = loaded_directory()
    where = f" at {_path.join(location, RUNTIME)}" if location else ""
    shown = ", ".join(missing[:6]) + (", ..." if len(missing) > 6 else "")
    return RuntimeNotLoadable(
        f"Intel's runtime {RUNTIME}{where} lacks {len(missing)} of the functions "
        f"vantrel.mkl.vm calls ({shown}); vantrel.mkl.tessivec does not need them. "
        f"Install a complete runtime with: "
        f"{pip_command(requirement('mkl'), '--force-reinstall')}", name=error.name)


def interface_flavour() -> str:
    """INTEL or GNU: the calling convention MKL_INTERFACE_LAYER picks (LP64,GNU)."""
    words = os.environ.get("MKL_INTERFACE_LAYER", "").upper().replace(",", " ").split()
    return "GNU" if "GNU" in words else "INTEL"


# The runtime's interface values: integers of 32 or 64 bits, and the GNU convention.
INTERFACE_LP64, INTERFACE_GNU = 0x0, 0x2


def _select_32bit_interface(runtime: ctypes.CDLL) -> None:
    """Chooses the runtime's 32-bit integer interface, in the calling convention
    MKL_INTERFACE_LAYER names; a request for the 64-bit one (the runtime takes ILP64
    wherever the variable holds it) is refused, not overridden."""
    requested = os.environ.get("MKL_INTERFACE_LAYER", "")
    if "ILP64" in requested.upper():
        raise RuntimeNotLoadable(
            "vantrel.mkl.tessivec passes 32-bit integers to the MKL runtime, but "
            f"MKL_INTERFACE_LAYER={requested} selects its 64-bit integer interface (ILP64); "
            "unset MKL_INTERFACE_LAYER or set it to LP64")
    convention = INTERFACE_GNU if interface_flavour() == "GNU" else 0
    runtime.MKL_Set_Interface_Layer(INTERFACE_LP64 | convention)


def load() -> ctypes.CDLL:
    """Loads the threading layer's library and the runtime, globally, and checks
    them; raises RuntimeNotLoadable naming what is missing and how to install it."""
    runtime, directory = _load_runtime()
    # The runtime opens its threading layer only at its first call.
    _preload_threading(chosen_layer("MKL_THREADING_LAYER", "INTEL"), directory)
    _check(runtime, directory)
    _select_32bit_interface(runtime)
    return runtime
