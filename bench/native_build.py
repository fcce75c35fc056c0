"""Builds the benchmark's native contenders with the system compiler, at run time."""

from __future__ import annotations

import ctypes
import importlib.util
import subprocess
import sysconfig
from pathlib import Path
from types import ModuleType

from runtime_library import runtime_path

SOURCES = Path(__file__).resolve().parent / "native"


def _link_runtime() -> list[str]:
    library = runtime_path()
    return [f"-L{library.parent}", f"-l:{library.name}", f"-Wl,-rpath,{library.parent}"]


def _compile(command: list[str]) -> None:
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"compiling failed: {' '.join(command)}\n{result.stderr}")


def build_floor(build_dir: Path, ffi) -> ModuleType:
    """The floor extension module, compiled, imported and set up to take the arrays of
    the module's `ffi`: fixed-length and open arrays of double, float and MKL_Complex16."""
    output = build_dir / ("bench_floor" + sysconfig.get_config_var("EXT_SUFFIX"))
    include = sysconfig.get_paths()["include"]
    _compile(["gcc", "-O2", "-shared", "-fPIC", "-Wall", f"-I{include}",
              str(SOURCES / "floor.c"), "-o", str(output), *_link_runtime()])
    found = importlib.util.spec_from_file_location("bench_floor", output)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    import _cffi_backend

    array_types = [(ffi.typeof(f"{element}[1]"), ffi.typeof(f"{element}[]"))
                   for element in ("double", "float", "MKL_Complex16")]
    module.setup(ffi.CData, *array_types, ffi.typeof("double *"), _cffi_backend._C_API)
    return module


def build_ufunc_floor(build_dir: Path) -> ModuleType:
    """The ufunc floor extension module (native/ufunc_floor.c), compiled and imported:
    ufuncs whose loops only call the runtime, as vm's are built."""
    import numpy

    output = build_dir / ("bench_ufunc_floor" + sysconfig.get_config_var("EXT_SUFFIX"))
    include = sysconfig.get_paths()["include"]
    _compile(["gcc", "-O2", "-shared", "-fPIC", "-Wall", f"-I{include}",
              f"-I{numpy.get_include()}", str(SOURCES / "ufunc_floor.c"), "-o", str(output),
              *_link_runtime()])
    found = importlib.util.spec_from_file_location("bench_ufunc_floor", output)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def build_native_loop(build_dir: Path) -> ctypes.CDLL:
    """The native loop library, compiled and loaded, with its entries' signatures set."""
    output = build_dir / "native_loop.so"
    _compile(["g++", "-O2", "-std=c++17", "-shared", "-fPIC", "-Wall",
              str(SOURCES / "native_loop.cpp"), "-o", str(output), *_link_runtime()])
    native = ctypes.CDLL(str(output))
    pointer, count, repeats = ctypes.c_void_p, ctypes.c_int, ctypes.c_long
    signatures = {
        "native_vdExp": (count, pointer, pointer, repeats),
        "native_vsSin": (count, pointer, pointer, repeats),
        "native_vdAdd": (count, pointer, pointer, pointer, repeats),
        "native_vzMul": (count, pointer, pointer, pointer, repeats),
        "native_vdErfInv": (count, pointer, pointer, repeats),
        "native_vmdLinearFrac": (count, pointer, pointer, pointer, ctypes.c_longlong, repeats),
        "native_vdadd": (count, pointer, pointer, pointer, repeats),
        "native_vmlSetErrStatus": (ctypes.c_int, repeats),
        "native_vmlGetMode": (repeats,),
    }
    for name, argtypes in signatures.items():
        entry = getattr(native, name)
        entry.argtypes = argtypes
        entry.restype = ctypes.c_double
    return native
