"""python -m vantrel.mkl: shows that the package works on this machine.

Prints where the runtime was loaded from, the calling thread's mode, a few functions
checked against NumPy and the time of one call; exits with 1 when anything is wrong.
"""

from __future__ import annotations

import os
import sys
import timeit

import numpy as np

ACCURACIES = {0x1: "LA", 0x2: "HA", 0x3: "EP"}
ERRMODES = {0x100: "IGNORE", 0x200: "ERRNO", 0x400: "STDERR", 0x800: "EXCEPT",
            0x1000: "CALLBACK", 0x2000: "NOERR"}


def describe_mode(mode: int) -> str:
    accuracy = ACCURACIES.get(mode & 0xF, f"{mode & 0xF:#x}")
    errmode = "|".join(name for bit, name in ERRMODES.items() if mode & bit) or "none"
    return f"{mode:#x} (accuracy {accuracy}, error mode {errmode})"


def checks(vm):
    """(what, result, NumPy's result, relative tolerance) for a few functions."""
    rng = np.random.default_rng(2)
    x = rng.uniform(0.1, 4.0, 1000)
    z = (x + 1j * x[::-1]).astype(np.complex128)
    x32 = x.astype(np.float32)
    sin, cos = vm.sincos(x)
    return [
        ("exp float64", vm.exp(x), np.exp(x), 1e-15),
        ("sin float32", vm.sin(x32), np.sin(x32), 1e-6),
        ("sqrt complex128", vm.sqrt(z), np.sqrt(z), 1e-15),
        ("abs complex128", vm.abs(z), np.abs(z), 1e-15),
        ("add broadcast", vm.add(x.reshape(10, 100), x[:100]), x.reshape(10, 100) + x[:100], 0),
        ("powx float64", vm.powx(x, 2.5), x**2.5, 1e-14),
        ("sincos float64", np.stack([sin, cos]), np.stack([np.sin(x), np.cos(x)]), 1e-15),
        ("packv float64", vm.packv(x, [5, 1, 999]), x[[5, 1, 999]], 0),
    ]


def per_call(function, *args) -> float:
    best = min(timeit.repeat(lambda: function(*args), number=20000, repeat=5))
    return best / 20000 * 1e9


def main() -> int:
    try:
        from . import _dispatch, vm
        from .tessivec import ffi, lib
    except ImportError as error:
        print(f"vantrel.mkl does not load: {error}")
        return 1
    location = _dispatch.runtime_location()
    print(f"runtime:  {os.path.realpath(location) if location else 'not found'}")
    print(f"mode:     {describe_mode(vm.get_mode())}")
    wrong = 0
    for what, got, expected, tolerance in checks(vm):
        good = got.shape == expected.shape and np.allclose(got, expected, rtol=tolerance, atol=0)
        wrong += not good
        print(f"{'ok   ' if good else 'WRONG'}     vm.{what}")
    x, r = np.array([0.5]), np.empty(1)
    lib_x, lib_r = ffi.from_buffer("double[]", x), ffi.from_buffer("double[]", r)
    lib.vdExp(1, lib_x, lib_r)
    good = r[0] == vm.exp(x)[0] == np.exp(0.5)
    wrong += not good
    print(f"{'ok   ' if good else 'WRONG'}     lib.vdExp equals vm.exp")
    print("one call on one float64 element:")
    print(f"          vm.exp(x)            {per_call(vm.exp, x):7.0f} ns")
    print(f"          lib.vdExp(1, x, r)   {per_call(lib.vdExp, 1, lib_x, lib_r):7.0f} ns")
    print(f"          numpy.exp(x)         {per_call(np.exp, x):7.0f} ns")
    print("all good" if not wrong else f"{wrong} check(s) WRONG")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
