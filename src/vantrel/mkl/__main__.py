"""python -m vantrel.mkl: shows what the package runs on, and that it works there.

Prints the package's and the runtime's versions, where the runtime was loaded from,
the CPU, the kernel library and threads the runtime chose, the calling thread's mode
(all of it ``vantrel.mkl.show_config()``), a few functions checked against NumPy and the
time of one call. Exits with 1 when the package does not load or a result is wrong;
warns when the runtime runs its generic kernels on this CPU. ``--json`` prints the
configuration alone, as JSON; ``--help`` says so.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import timeit
from typing import Sequence

from . import _runtime
from ._config import (  # noqa: F401 (cpu and describe_mode: the test suite reads them here)
    configuration,
    cpu,
    describe_mode,
    kernel_libraries,
    lines,
)

# The kernel libraries the runtime falls back to on a CPU it has no tuned path for.
GENERIC_KERNELS = (_runtime.GENERIC_KERNELS, _runtime.COMPATIBLE_KERNELS)
GENERIC_WARNING = """\
WARNING   the runtime runs its generic kernels ({kernel}) on this CPU.
          {reason} What it costs here:
          - the accuracy modes (LA, HA, EP) have no effect on most functions: they
            give the same results in every mode (sinpi, cdfnorm, erfinv and a few
            others do not);
          - complex arithmetic (multiply, divide, abs) and some real functions (div,
            floor, rint) run many times slower than NumPy's own loops."""


def checks(vm, np):
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


# The runtime's settings that choose its code path for it.
CODE_PATH_VARIABLES = ("MKL_CBWR", "MKL_ENABLE_INSTRUCTIONS")


def generic_reason() -> str:
    chosen = [f"{name}={os.environ[name]}" for name in CODE_PATH_VARIABLES
              if os.environ.get(name)]
    if chosen:
        return (f"The environment chooses them ({', '.join(chosen)}): unset it to\n"
                "          let the runtime choose for this processor.")
    return ("This is the runtime's own choice for this processor, not a fault of the\n"
            "          installation, and vantrel.mkl cannot change it.")


def parser() -> argparse.ArgumentParser:
    options = argparse.ArgumentParser(
        prog="python -m vantrel.mkl",
        description="Shows what vantrel.mkl runs on (the versions of the package, the "
                    "runtime, NumPy and CFFI, where the runtime was loaded from, the CPU, "
                    "the kernel library, threads and threading layer the runtime chose, "
                    "the calling thread's mode), checks a few functions against NumPy and "
                    "times one call.",
        epilog="Exits with 1 when the package does not load or a result is wrong. The same "
               "configuration, from Python: vantrel.mkl.show_config(mode=\"dicts\").")
    options.add_argument("--json", action="store_true",
                         help="print the configuration alone, as JSON, and run no checks")
    return options


def main(argv: Sequence[str] = ()) -> int:
    """The self-check with the command line's arguments (none by default)."""
    arguments = parser().parse_args(list(argv))
    config = configuration()
    if arguments.json:
        print(json.dumps(config, indent=2))
        return 1 if config["runtime"]["error"] else 0
    print("\n".join(lines(config)))
    if config["runtime"]["error"]:
        return 1
    from .tessivec import ffi, lib

    generic = [name for name in kernel_libraries() if name.startswith(GENERIC_KERNELS)]
    if generic:
        print(GENERIC_WARNING.format(kernel=", ".join(generic), reason=generic_reason()))
    try:
        import numpy as np

        from . import vm
    except ImportError as error:
        print(f"vantrel.mkl.vm does not load: {error}")
        return 1
    wrong = 0
    for what, got, expected, tolerance in checks(vm, np):
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
    if wrong:
        print(f"{wrong} check(s) WRONG")
    else:
        print("all good" + (", on the runtime's generic kernels (see the warning)" if generic
                            else ""))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
