"""Which processor this is and which of its code paths the runtime took: MKL loads one
kernel library per instruction set (libmkl_vml_avx512, _avx2, _mc3, the generic _def,
or _cmpt under MKL_CBWR=COMPATIBLE), and their results differ in the last bits. The
self-check reads both; the tests name them the same way."""

from __future__ import annotations

import os

from vantrel.mkl import __main__ as self_check

cpu_model = self_check.cpu


def kernel_libraries() -> list[str]:
    """The kernel libraries loaded into this process; the runtime loads one at its
    first math call, made here."""
    from vantrel.mkl.tessivec import ffi, lib
    x = ffi.new("double[1]", [1.0])
    lib.vdExp(1, x, x)
    return sorted(self_check.kernel_libraries())


def selection() -> str:
    """The environment variables that make the runtime choose another code path."""
    chosen = [f"{name}={os.environ[name]}" for name in ("MKL_ENABLE_INSTRUCTIONS", "MKL_CBWR")
              if name in os.environ]
    return ", ".join(chosen) or "the runtime's own choice"
