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


def threading_layer() -> str:
    """The runtime's threading layer, as threadpoolctl names it: intel, gnu, tbb or
    sequential."""
    import threadpoolctl
    from vantrel.mkl import tessivec  # noqa: F401 (loads the runtime)
    pools = [p for p in threadpoolctl.threadpool_info() if p["internal_api"] == "mkl"]
    return pools[0]["threading_layer"] if pools else "unknown"


def shares_calls() -> bool:
    """Whether vm can share a call among the runtime's own threads: an OpenMP layer, and
    more than one processor."""
    return threading_layer() in ("intel", "gnu") and (os.cpu_count() or 1) > 1
