"""Time of vm.exp against numpy.exp and lib.vdExp, interleaved in one process.

    python benchmarks/vm_call_time.py [rounds]

Each round times every case once (timeit, a fixed number of calls); the cases take
turns, so that a change in the machine's load falls on all of them alike. Printed per
case: the best and the median time of one call; per comparison: the ratio of the
best times and the median of the per-round ratios.
"""

from __future__ import annotations

import statistics
import sys
import timeit

import numpy as np
from vantrel.mkl import vm
from vantrel.mkl.tessivec import ffi, lib


def interleaved(cases: dict, number: int, rounds: int) -> dict[str, list[float]]:
    times: dict[str, list[float]] = {name: [] for name in cases}
    for _ in range(rounds):
        for name, call in cases.items():
            times[name].append(timeit.timeit(call, number=number) / number)
    return times


def report(title: str, times: dict, scale: float, unit: str, comparisons) -> None:
    print(title)
    for name, values in times.items():
        print(f"  {name:<26} best {min(values) * scale:9.2f} {unit}"
              f"   median {statistics.median(values) * scale:9.2f} {unit}")
    for a, b in comparisons:
        per_round = statistics.median(x / y for x, y in zip(times[a], times[b]))
        print(f"  {a} / {b}: {min(times[a]) / min(times[b]):.3f} (bests), "
              f"{per_round:.3f} (median per round)")


def main(rounds: int) -> None:
    x, r = np.array([0.5]), np.empty(1)
    px, pr = ffi.from_buffer("double[]", x), ffi.from_buffer("double[]", r)
    report("one float64 element", interleaved({
        "np.exp(x)": lambda: np.exp(x),
        "vm.exp(x)": lambda: vm.exp(x),
        "vm.exp(x, out=r)": lambda: vm.exp(x, out=r),
        "lib.vdExp(1, px, pr)": lambda: lib.vdExp(1, px, pr),
    }, 20000, rounds), 1e9, "ns", [("vm.exp(x)", "np.exp(x)")])

    n = 10**5
    x = np.random.default_rng(0).uniform(-1.0, 1.0, n)
    r = np.empty(n)
    px, pr = ffi.from_buffer("double[]", x), ffi.from_buffer("double[]", r)
    report("10**5 float64 elements", interleaved({
        "lib.vdExp(n, px, pr)": lambda: lib.vdExp(n, px, pr),
        "vm.exp(x, out=r)": lambda: vm.exp(x, out=r),
        "vm.exp(x)": lambda: vm.exp(x),
        "np.exp(x)": lambda: np.exp(x),
    }, 50, rounds), 1e6, "us", [("vm.exp(x, out=r)", "lib.vdExp(n, px, pr)"),
                                 ("vm.exp(x)", "lib.vdExp(n, px, pr)")])


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 40)
