"""Where the runtime library lives, and the few runtime services the benchmark needs."""

from __future__ import annotations

import ctypes
import importlib.metadata
from functools import lru_cache
from pathlib import Path


@lru_cache(maxsize=None)
def runtime_path() -> Path:
    """The libmkl_rt of the environment the package is installed into (the mkl wheel)."""
    files = importlib.metadata.distribution("mkl").files or []
    for file in files:
        if file.name.startswith("libmkl_rt.so"):
            return Path(file.locate()).resolve()
    raise FileNotFoundError("the mkl wheel ships no libmkl_rt.so")


@lru_cache(maxsize=None)
def runtime_handle() -> ctypes.CDLL:
    return ctypes.CDLL(str(runtime_path()))


def set_runtime_threads(count: int) -> int:
    """Sets the runtime's own thread count for every thread; returns the previous one."""
    handle = runtime_handle()
    handle.MKL_Get_Max_Threads.restype = ctypes.c_int
    previous = handle.MKL_Get_Max_Threads()
    handle.MKL_Set_Num_Threads(ctypes.c_int(count))
    return previous


def runtime_version() -> str:
    buffer = ctypes.create_string_buffer(256)
    runtime_handle().MKL_Get_Version_String(buffer, ctypes.c_int(len(buffer)))
    return buffer.value.decode(errors="replace").strip()
