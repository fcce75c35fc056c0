"""Which processor this is and which of its code paths the runtime took: MKL loads one
kernel library per instruction set (libmkl_vml_avx512, _avx2, _mc3, the generic _def,
or _cmpt under MKL_CBWR=COMPATIBLE), and their results differ in the last bits."""

from __future__ import annotations

import os
from pathlib import Path


def cpu_model() -> str:
    fields = {}
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        key, _, value = line.partition(":")
        fields.setdefault(key.strip(), value.strip())
    return f"{fields.get('vendor_id', '?')}, {fields.get('model name', '?')}"


def kernel_libraries() -> list[str]:
    """The runtime's vector math kernel libraries loaded into this process; the runtime
    loads one at its first math call."""
    from vantrel.mkl.tessivec import ffi, lib
    x = ffi.new("double[1]", [1.0])
    lib.vdExp(1, x, x)
    return sorted({os.path.basename(line.split()[-1])
                   for line in Path("/proc/self/maps").read_text().splitlines()
                   if "libmkl_vml_" in line})


def selection() -> str:
    """The environment variables that make the runtime choose another code path."""
    chosen = [f"{name}={os.environ[name]}" for name in ("MKL_ENABLE_INSTRUCTIONS", "MKL_CBWR")
              if name in os.environ]
    return ", ".join(chosen) or "the runtime's own choice"
