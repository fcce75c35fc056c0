"""The NumPy layer vm, each comparison measured side by side in one run:

- vm.exp on one float64 element against numpy.exp (the cost of a ufunc call on top of
  NumPy's own), and on 1 and 10 elements against the floor: ufuncs built through
  NumPy's C API whose loops only call the runtime's m form (and its plain form), so
  that what vm costs above it is what its loop does besides computing;
- vm.exp with a 50 % random where= mask against numpy.exp with the same mask;
- vm.exp on 10^5 elements into a preallocated out against lib.vdExp on the same arrays;
- vm.exp on a strided view of 10^6 elements against its floor, the view copied into a
  contiguous array and computed from there, and against the same count contiguous, with
  the runtime's threads in use (the bounded buffer of strided operands must not keep
  them idle);
- vm.exp, add, sin and pow with the runtime's threads in use against the same call on
  one runtime thread, from 10 to 10^7 elements (vm shares a call where its loop has
  found sharing faster);
- an in-place vm.sin against the same call into another array, 10^6 elements, with the
  runtime's threads;
- vm.add with a scalar against vm.add of two arrays (and NumPy's same pair);
- vm.packv on 100 elements against x[idx];
- vm.exp on float32 with 40 % underflowing results against its floor, the runtime's own
  path without any condition handling (HA | NOERR), and against numpy.exp;
- vm.add.reduce on 10^6 float64 elements against numpy.add.reduce (both sum pairwise);
- vm.add on 10^5 float64 elements into a preallocated out against numpy.add (vm finds
  the conditions of the runtime's plain arithmetic itself).

Multi-threaded comparisons are timed by the wall clock, the others by the calling
thread's CPU time."""

from __future__ import annotations

import os
import time

from harness import calls_for, interleave, python_batch
from runtime_library import set_runtime_threads

VM_ONE = "vm.exp(x)"
VM_ONE_OUT = "vm.exp(x, out=r)"
NUMPY_ONE = "np.exp(x)"
NUMPY_ONE_OUT = "np.exp(x, out=r)"
VM_LARGE = "vm.exp(x)"
VM_LARGE_OUT = "vm.exp(x, out=r)"
LIB_LARGE = "lib.vdExp(n, x, r), arrays wrapped once"
STRIDED = "vm.exp(x[::2], out=r)"
CONTIGUOUS = "vm.exp(c, out=r), c contiguous"
STRIDED_FLOOR = "np.copyto(c, x[::2]); vm.exp(c, out=r)"
THREADS = "the runtime's threads"
ONE_THREAD = "one runtime thread"
SWEPT = {"exp": "vm.exp(x, out=r)", "add": "vm.add(x, y, out=r)", "sin": "vm.sin(x, out=r)",
         "pow": "vm.pow(x, y, out=r)"}
IN_PLACE = "vm.sin(x, out=x)"
OUT_OF_PLACE = "vm.sin(x, out=r)"
SCALAR_VM = "vm.add(x, 1.5, out=r)"
TWO_ARRAYS_VM = "vm.add(x, y, out=r)"
SCALAR_NUMPY = "np.add(x, 1.5, out=r)"
TWO_ARRAYS_NUMPY = "np.add(x, y, out=r)"
PACKV = "vm.packv(x, idx)"
INDEXING = "x[idx]"
UNDERFLOW_VM = "vm.exp(x), float32, 40 % underflow"
UNDERFLOW_NUMPY = "np.exp(x), float32, 40 % underflow"
UNDERFLOW_FLOOR = "lib.vmsExp(n, x, r, HA | NOERR), 40 % underflow"
FLOOR_ONE = "floor ufunc: vmdExp(x, out=r), 1 element"
FLOOR_PLAIN_ONE = "floor ufunc: vdExp(x, out=r), 1 element"
VM_TEN_OUT = "vm.exp(x, out=r), 10 elements"
FLOOR_TEN = "floor ufunc: vmdExp(x, out=r), 10 elements"
VM_ADD_ONE = "vm.add(x, y, out=r), 1 element"
FLOOR_ADD_ONE = "floor ufunc: vmdAdd(x, y, out=r), 1 element"
WHERE_VM = "vm.exp(x, out=r, where=m), 50 % random mask"
WHERE_NUMPY = "np.exp(x, out=r, where=m), 50 % random mask"
REDUCE_VM = "vm.add.reduce(x)"
REDUCE_NUMPY = "np.add.reduce(x)"
ADD_VM = "vm.add(x, y, out=r)"
ADD_NUMPY = "np.add(x, y, out=r)"


class VmBench:
    def __init__(self, lib, ffi, floor):
        self.lib, self.ffi, self.floor = lib, ffi, floor

    @staticmethod
    def _timed(statements: dict, batch_seconds: float, rounds: int, wall: bool = False,
               before: dict | None = None) -> dict:
        """Interleaved batches of each statement; `before` maps a name to what runs ahead
        of each of its batches (outside the timing)."""
        timer = time.perf_counter if wall else time.thread_time
        batches = {}
        for name, (names, statement) in statements.items():
            setup = (before or {}).get(name, lambda: None)

            def batch_of(calls, names=names, statement=statement, setup=setup):
                timed = python_batch(statement, names, calls, timer=timer)

                def run():
                    setup()
                    return timed()
                return run
            batches[name] = batch_of(calls_for(batch_of, batch_seconds))
        return {name: t.as_json() for name, t in interleave(batches, rounds).items()}

    def run(self, large_count: int, batch_seconds: float, rounds: int,
            strided_count: int = 10**6, sweep_counts=tuple(10**k for k in range(1, 8)),
            reduce_count: int = 10**6) -> dict:
        import numpy as np
        from vantrel.mkl import vm

        one = {"vm": vm, "np": np, "floor": self.floor, "x": np.array([0.5]),
               "y": np.array([1.5]), "r": np.empty(1)}
        ten = {"vm": vm, "floor": self.floor, "x": np.full(10, 0.5), "r": np.empty(10)}
        single = self._timed({
            VM_ONE: (one, "vm.exp(x)"), VM_ONE_OUT: (one, "vm.exp(x, out=r)"),
            NUMPY_ONE: (one, "np.exp(x)"), NUMPY_ONE_OUT: (one, "np.exp(x, out=r)"),
            FLOOR_ONE: (one, "floor.exp_m(x, out=r)"),
            FLOOR_PLAIN_ONE: (one, "floor.exp(x, out=r)"),
            VM_TEN_OUT: (ten, "vm.exp(x, out=r)"), FLOOR_TEN: (ten, "floor.exp_m(x, out=r)"),
            VM_ADD_ONE: (one, "vm.add(x, y, out=r)"),
            FLOOR_ADD_ONE: (one, "floor.add_m(x, y, out=r)"),
        }, batch_seconds, rounds)
        rng = np.random.default_rng(0)
        x = rng.uniform(-1.0, 1.0, large_count)
        r = np.empty(large_count)
        large = {"vm": vm, "x": x, "r": r}
        raw = {"f": self.lib.vdExp, "n": large_count,
               "x": self.ffi.from_buffer("double[]", x), "r": self.ffi.from_buffer("double[]", r)}
        many = self._timed({
            VM_LARGE: (large, "vm.exp(x)"), VM_LARGE_OUT: (large, "vm.exp(x, out=r)"),
            LIB_LARGE: (raw, "f(n, x, r)"),
        }, batch_seconds, rounds)

        index = rng.integers(0, 1000, 100)
        gather = {"vm": vm, "x": rng.uniform(size=1000), "idx": index}
        pack = self._timed({PACKV: (gather, "vm.packv(x, idx)"),
                            INDEXING: (gather, "x[idx]")}, batch_seconds, rounds)

        tiny = np.where(np.arange(10**5) % 10 < 4, -100.0, rng.uniform(-5, 5, 10**5))
        under = {"vm": vm, "np": np, "x": tiny.astype(np.float32),
                 "r": np.empty(10**5, np.float32)}
        # The runtime's own fastest way through these values: no condition handling at all.
        floor = {"f": self.lib.vmsExp, "n": 10**5, "mode": vm.HA | vm.ERRMODE_NOERR,
                 "x": self.ffi.from_buffer("float[]", under["x"]),
                 "r": self.ffi.from_buffer("float[]", under["r"])}
        with np.errstate(under="ignore"):  # NumPy's default, said once more
            underflow = self._timed({UNDERFLOW_VM: (under, "vm.exp(x, out=r)"),
                                     UNDERFLOW_NUMPY: (under, "np.exp(x, out=r)"),
                                     UNDERFLOW_FLOOR: (floor, "f(n, x, r, mode)")},
                                    batch_seconds, rounds)

        masked = {"vm": vm, "np": np, "x": x, "r": r, "m": rng.random(large_count) < 0.5}
        where = self._timed({WHERE_VM: (masked, "vm.exp(x, out=r, where=m)"),
                             WHERE_NUMPY: (masked, "np.exp(x, out=r, where=m)")},
                            batch_seconds, rounds)
        summed = {"vm": vm, "np": np, "x": rng.uniform(-1.0, 1.0, reduce_count)}
        reduction = self._timed({REDUCE_VM: (summed, "vm.add.reduce(x)"),
                                 REDUCE_NUMPY: (summed, "np.add.reduce(x)")},
                                batch_seconds, rounds)
        added = {"vm": vm, "np": np, "x": x, "y": rng.uniform(-1.0, 1.0, large_count), "r": r}
        arithmetic = self._timed({ADD_VM: (added, "vm.add(x, y, out=r)"),
                                  ADD_NUMPY: (added, "np.add(x, y, out=r)")},
                                 batch_seconds, rounds)
        scalar = self._timed({SCALAR_VM: (added, SCALAR_VM),
                              TWO_ARRAYS_VM: (added, TWO_ARRAYS_VM),
                              SCALAR_NUMPY: (added, SCALAR_NUMPY),
                              TWO_ARRAYS_NUMPY: (added, TWO_ARRAYS_NUMPY)},
                             batch_seconds, rounds)

        cores = os.cpu_count() or 1
        previous = set_runtime_threads(cores)
        try:
            wide = rng.uniform(-1.0, 1.0, 2 * strided_count)
            layout = {"vm": vm, "np": np, "x": wide, "c": np.ascontiguousarray(wide[::2]),
                      "r": np.empty(strided_count)}
            strided = self._timed({STRIDED: (layout, "vm.exp(x[::2], out=r)"),
                                   STRIDED_FLOOR: (layout, STRIDED_FLOOR),
                                   CONTIGUOUS: (layout, "vm.exp(c, out=r)")},
                                  batch_seconds, rounds, wall=True)
            sweep = []
            for name, statement in SWEPT.items():
                for count in sweep_counts:
                    operands = {"vm": vm, "x": rng.uniform(0.5, 2.0, count),
                                "y": rng.uniform(-2.0, 2.0, count), "r": np.empty(count)}
                    timings = self._timed(
                        {THREADS: (operands, statement), ONE_THREAD: (operands, statement)},
                        batch_seconds, rounds, wall=True,
                        before={THREADS: lambda: set_runtime_threads(cores),
                                ONE_THREAD: lambda: set_runtime_threads(1)})
                    sweep.append({"operation": name, "count": count, "timings": timings})
            # sin keeps values in [-1, 1]: computed in place again and again, they stay
            # ordinary numbers.
            placed = {"vm": vm, "x": rng.uniform(-1.0, 1.0, strided_count),
                      "r": np.empty(strided_count)}
            in_place = self._timed({IN_PLACE: (placed, IN_PLACE),
                                    OUT_OF_PLACE: (placed, OUT_OF_PLACE)},
                                   batch_seconds, rounds, wall=True)
        finally:
            set_runtime_threads(previous)
        return {"one_element": single, "large_count": large_count, "large": many,
                "strided_count": strided_count, "strided": strided, "cores": cores,
                "sweep": sweep, "in_place": in_place, "scalar": scalar, "pack": pack,
                "underflow": underflow,
                "reduce_count": reduce_count, "reduce": reduction, "arithmetic": arithmetic,
                "where": where}
