"""The NumPy-first layer: vm.exp against numpy.exp on one element, and against the raw
lib.vdExp on a large array (the cost of vm's dispatch, allocation and checks)."""

from __future__ import annotations

from harness import calls_for, interleave, python_batch

VM_ONE = "vm.exp(x)"
VM_ONE_OUT = "vm.exp(x, out=r)"
NUMPY_ONE = "np.exp(x)"
NUMPY_ONE_OUT = "np.exp(x, out=r)"
VM_LARGE = "vm.exp(x)"
VM_LARGE_OUT = "vm.exp(x, out=r)"
LIB_LARGE = "lib.vdExp(n, x, r), arrays wrapped once"


class VmBench:
    def __init__(self, lib, ffi):
        self.lib, self.ffi = lib, ffi

    def _timed(self, statements: dict, batch_seconds: float, rounds: int) -> dict:
        batches = {}
        for name, (names, statement) in statements.items():
            def batch_of(calls, names=names, statement=statement):
                return python_batch(statement, names, calls)
            batches[name] = batch_of(calls_for(batch_of, batch_seconds))
        return {name: t.as_json() for name, t in interleave(batches, rounds).items()}

    def run(self, large_count: int, batch_seconds: float, rounds: int) -> dict:
        import numpy as np
        from vantrel.mkl import vm

        one = {"vm": vm, "np": np, "x": np.array([0.5]), "r": np.empty(1)}
        single = self._timed({
            VM_ONE: (one, "vm.exp(x)"), VM_ONE_OUT: (one, "vm.exp(x, out=r)"),
            NUMPY_ONE: (one, "np.exp(x)"), NUMPY_ONE_OUT: (one, "np.exp(x, out=r)"),
        }, batch_seconds, rounds)
        x = np.random.default_rng(0).uniform(-1.0, 1.0, large_count)
        r = np.empty(large_count)
        large = {"vm": vm, "x": x, "r": r}
        raw = {"f": self.lib.vdExp, "n": large_count,
               "x": self.ffi.from_buffer("double[]", x), "r": self.ffi.from_buffer("double[]", r)}
        many = self._timed({
            VM_LARGE: (large, "vm.exp(x)"), VM_LARGE_OUT: (large, "vm.exp(x, out=r)"),
            LIB_LARGE: (raw, "f(n, x, r)"),
        }, batch_seconds, rounds)
        return {"one_element": single, "large_count": large_count, "large": many}
