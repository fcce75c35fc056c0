"""What the package runs on, for people and programs: ``vantrel.mkl.show_config()``.

The versions of the package, the runtime, NumPy and CFFI; where the runtime was loaded
from; the CPU, and the kernel library, threads and threading layer the runtime chose
for it; the calling thread's mode. ``python -m vantrel.mkl`` prints the same before its
checks.
"""

from __future__ import annotations

import ctypes
import os
import platform
from typing import Any

from . import _runtime
from ._catalogue.mode_values import (
    ACCURACIES as _ACCURACY_VALUES,
)
from ._catalogue.mode_values import (
    ERRMODE_BITS,
    FTZDAZ_SETTINGS,
    MODE_VALUES,
)

ACCURACIES = {value: name for name, value in _ACCURACY_VALUES.items()}
ACCURACY_MASK = MODE_VALUES["ACCURACY_MASK"]
# The single error-mode bits, by their names without the prefix.
ERRMODES = {value: name.removeprefix("ERRMODE_") for name, value in ERRMODE_BITS.items()}
FTZDAZ = {value: name.removeprefix("FTZDAZ_") for name, value in FTZDAZ_SETTINGS.items()}
FTZDAZ_MASK = MODE_VALUES["FTZDAZ_MASK"]
# The environment variables that steer the runtime and its threading layers.
ENVIRONMENT_PREFIXES = ("MKL_", "OMP_", "KMP_")
MODES = ("stdout", "dicts")


def describe_mode(mode: int) -> str:
    accuracy = ACCURACIES.get(mode & ACCURACY_MASK, f"{mode & ACCURACY_MASK:#x}")
    errmode = "|".join(name for bit, name in ERRMODES.items() if mode & bit) or "none"
    return f"{mode:#x} (accuracy {accuracy}, error mode {errmode})"


def cpu() -> str:
    """Vendor and model name from /proc/cpuinfo."""
    found = _runtime.processor()
    vendor, model = found.get("vendor_id"), found.get("model name")
    return f"{vendor or 'unknown vendor'}, {model or platform.processor() or 'unknown model'}"


def kernel_libraries() -> list[str]:
    """The runtime's vector math kernel libraries mapped into this process."""
    names = (os.path.basename(path) for path in _runtime.mapped_libraries())
    return [name for name in names if name.startswith("libmkl_vml_")]


def threading_layers() -> list[str]:
    """The runtime's threading layers whose library is mapped into this process."""
    mapped = {os.path.basename(path) for path in _runtime.mapped_libraries()}
    return [layer for layer, name in _runtime.THREADING_LIBRARIES.items() if name in mapped]


def threading_layer() -> str:
    return ", ".join(threading_layers()) or "not loaded yet"


def _distribution_version(name: str) -> str | None:
    from importlib import metadata
    try:
        return metadata.version(name)
    except metadata.PackageNotFoundError:
        return None


def _module_version(name: str) -> str | None:
    """The version of the module this process imports, which is the one that runs."""
    import importlib
    try:
        return getattr(importlib.import_module(name), "__version__", None)
    except ImportError:
        return None


def _mode(value: int) -> dict[str, Any]:
    return {"value": value,
            "accuracy": ACCURACIES.get(value & ACCURACY_MASK),
            "errmode": [name for bit, name in ERRMODES.items() if value & bit],
            "ftzdaz": FTZDAZ.get(value & FTZDAZ_MASK),
            "text": describe_mode(value)}


def configuration() -> dict[str, Any]:
    """Everything ``show_config`` shows, as plain values (JSON can hold them): what
    cannot be known here (the runtime does not load) is None, and ``runtime.error``
    says why."""
    from . import __version__

    found = _runtime.processor()
    config: dict[str, Any] = {
        "versions": {
            "vantrel-mkl": __version__,
            "python": platform.python_version(),
            "numpy": _module_version("numpy"),
            "cffi": _module_version("_cffi_backend"),
            "mkl": _distribution_version("mkl"),
            "runtime": None,
        },
        "runtime": {"path": None, "version_string": None, "kernels": [],
                    "generic_kernels": None, "requirement": _runtime.requirement("mkl"),
                    "error": None},
        "cpu": {"vendor": found.get("vendor_id"), "model": found.get("model name"),
                "machine": platform.machine(), "description": cpu()},
        "threads": {"max_threads": None, "threading_layer": None,
                    "requested_layer": _runtime.chosen_layer("MKL_THREADING_LAYER", "INTEL")},
        "mode": None,
        "environment": {name: value for name, value in sorted(os.environ.items())
                        if name.startswith(ENVIRONMENT_PREFIXES)},
    }
    try:
        from .tessivec import ffi, lib
    except ImportError as error:
        config["runtime"]["error"] = f"vantrel.mkl.tessivec does not load: {error}"
        return config
    runtime = ctypes.CDLL(_runtime.RUNTIME)  # the copy already loaded
    found_version = _runtime.version(runtime)
    directory = _runtime.loaded_directory()
    config["versions"]["runtime"] = ".".join(map(str, found_version)) if found_version else None
    config["runtime"]["version_string"] = _runtime.version_string(runtime)
    config["runtime"]["path"] = os.path.join(directory, _runtime.RUNTIME) if directory else None
    # The runtime picks its kernel library, and loads its threading layer, at its first
    # math call.
    x, r = ffi.new("double[]", [0.5] * 64), ffi.new("double[64]")
    lib.vdExp(64, x, r)
    kernels = kernel_libraries()
    config["runtime"]["kernels"] = kernels
    config["runtime"]["generic_kernels"] = any(
        name.startswith((_runtime.GENERIC_KERNELS, _runtime.COMPATIBLE_KERNELS))
        for name in kernels)
    config["threads"]["max_threads"] = runtime.mkl_get_max_threads()
    config["threads"]["threading_layer"] = ", ".join(threading_layers()) or None
    config["mode"] = _mode(lib.vmlGetMode())
    return config


def lines(config: dict[str, Any]) -> list[str]:
    """The configuration as the self-check prints it."""
    versions, runtime = config["versions"], config["runtime"]
    shown = [f"package:  vantrel-mkl {versions['vantrel-mkl']} on Python {versions['python']}",
             f"versions: numpy {versions['numpy'] or 'not importable'}, "
             f"cffi {versions['cffi'] or 'not importable'}, "
             f"mkl {versions['mkl'] or 'not installed as a distribution'}"]
    if runtime["error"] is not None:
        return shown + [runtime["error"]]
    threads = config["threads"]
    shown += [f"runtime:  {runtime['version_string']}",
              f"          {runtime['path'] or 'location unknown'}",
              f"cpu:      {config['cpu']['description']}",
              f"kernels:  {', '.join(runtime['kernels']) or 'none loaded'}",
              f"threads:  {threads['max_threads']} "
              f"(threading layer {threads['threading_layer'] or 'not loaded yet'})",
              f"mode:     {config['mode']['text']}"]
    if config["environment"]:
        shown.append("environment: " + " ".join(
            f"{name}={value}" for name, value in config["environment"].items()))
    return shown


def show_config(mode: str = "stdout") -> dict[str, Any] | None:
    """Shows what the package runs on: its version and those of the runtime, NumPy and
    CFFI, where the runtime was loaded from, the CPU, the kernel library, threads and
    threading layer the runtime chose, and the calling thread's mode.

    ``mode="stdout"`` prints it; ``mode="dicts"`` returns it as a dict of dicts instead
    (keys ``versions``, ``runtime``, ``cpu``, ``threads``, ``mode`` and ``environment``),
    as ``numpy.show_config`` does. Where the runtime does not load, its entries are None
    and ``runtime["error"]`` says why.
    """
    if mode not in MODES:
        raise ValueError(f"mode is one of {', '.join(map(repr, MODES))}, not {mode!r}")
    config = configuration()
    if mode == "dicts":
        return config
    print("\n".join(lines(config)))
    return None
