"""Throughput on NumPy arrays passed through ffi.from_buffer, against NumPy or SciPy on
the same arrays and against a native loop calling the runtime directly; the floor
extension, called from the same Python loop, separates the cost of returning to Python
between calls from the module's own. The module is
timed twice: with the arrays wrapped once, ahead of the calls, and wrapped anew in each
call, which adds the backend's and NumPy's cost of exporting and releasing a buffer."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable

import numpy as np
import scipy.special

from harness import Batch, calls_for, interleave, python_batch

MODULE = "module"
MODULE_WRAPPING = "module, from_buffer in the call"
FLOOR = "floor"
REFERENCE = "NumPy/SciPy"
NATIVE = "native loop"
# The native loop once more: its time over the first copy's shows the run's noise.
NATIVE_CONTROL = "native loop, control"
COPY = "copy (np.copyto)"


@dataclass
class Kernel:
    name: str
    c_type: str  # the element type the module's ffi calls it
    dtype: str
    inputs: int
    low: float  # inputs are drawn from [low, high)
    high: float
    reference_name: str
    reference: Callable

    def arrays(self, count: int, rng: np.random.Generator) -> list[np.ndarray]:
        arrays = []
        for _ in range(self.inputs):
            values = rng.uniform(self.low, self.high, count)
            if np.dtype(self.dtype).kind == "c":
                values = values + 1j * rng.uniform(self.low, self.high, count)
            arrays.append(values.astype(self.dtype))
        arrays.append(np.empty(count, self.dtype))
        return arrays


KERNELS = (
    Kernel("vdExp", "double", "float64", 1, -5.0, 5.0, "np.exp", np.exp),
    Kernel("vsSin", "float", "float32", 1, -10.0, 10.0, "np.sin", np.sin),
    Kernel("vdAdd", "double", "float64", 2, -1.0, 1.0, "np.add", np.add),
    Kernel("vzMul", "MKL_Complex16", "complex128", 2, -1.0, 1.0, "np.multiply", np.multiply),
    Kernel("vdErfInv", "double", "float64", 1, -0.99, 0.99, "scipy.special.erfinv",
           scipy.special.erfinv),
)


def module_statement(kernel: Kernel, wrapping: bool) -> str:
    """The module's call, on arrays wrapped ahead or in the call itself; the array type is
    held as a ctype (a type given as a string costs the backend a parse-cache lookup on
    every call)."""
    if not wrapping:
        return f"f(n, {', '.join('ab'[:kernel.inputs])}, r)"
    inputs = ", ".join(f"fb(t, {name})" for name in "ab"[:kernel.inputs])
    return f"f(n, {inputs}, fb(t, r, True))"


class ThroughputBench:
    def __init__(self, lib, ffi, floor, native):
        self.lib, self.ffi, self.floor, self.native = lib, ffi, floor, native

    def _batches(self, kernel: Kernel, count: int, arrays) -> dict[str, Callable[[int], Batch]]:
        names = dict(zip("ab"[:kernel.inputs] + "r", arrays))
        array_type = self.ffi.typeof(kernel.c_type + "[]")
        wrapping_values = {"f": getattr(self.lib, kernel.name), "fb": self.ffi.from_buffer,
                           "t": array_type, "n": count, **names}
        wrapped = {name: self.ffi.from_buffer(array_type, array, require_writable=True)
                   for name, array in names.items()}
        module_values = {"f": getattr(self.lib, kernel.name), "n": count, **wrapped}
        floor_values = {**module_values, "f": getattr(self.floor, kernel.name)}
        reference_statement = f"g({', '.join(names)})"
        reference_values = {"g": kernel.reference, **names}
        native_entry = getattr(self.native, "native_" + kernel.name)
        addresses = [array.ctypes.data for array in arrays]

        def native(calls: int) -> Batch:
            return lambda: native_entry(count, *addresses, calls) / calls

        batches = {
            MODULE: lambda calls: python_batch(module_statement(kernel, False), module_values,
                                               calls),
            MODULE_WRAPPING: lambda calls: python_batch(module_statement(kernel, True),
                                                        wrapping_values, calls),
            FLOOR: lambda calls: python_batch(module_statement(kernel, False), floor_values,
                                              calls),
            REFERENCE: lambda calls: python_batch(reference_statement, reference_values, calls),
            NATIVE: native,
            NATIVE_CONTROL: native,
        }
        if kernel.name == "vdAdd":
            copy_values = {"c": np.copyto, "r": names["r"], "a": names["a"]}
            batches[COPY] = lambda calls: python_batch("c(r, a)", copy_values, calls)
        return batches

    def run(self, counts, batch_seconds: float, rounds: int) -> list[dict]:
        rng = np.random.default_rng(6)
        results = []
        for kernel in KERNELS:
            for count in counts:
                arrays = kernel.arrays(count, rng)
                builders = self._batches(kernel, count, arrays)
                for batch_of in builders.values():  # the arrays' pages touched by all
                    batch_of(1)()
                # One number of calls for every contender: a batch's first call inherits
                # the caches its predecessor left, and weighs the same in every batch.
                calls = calls_for(builders[MODULE], batch_seconds)
                batches = {name: batch_of(calls) for name, batch_of in builders.items()}
                timings = interleave(batches, rounds)
                self._check_result(kernel, arrays)
                entry = {"function": kernel.name, "reference": kernel.reference_name,
                         "count": count, "element_bytes": np.dtype(kernel.dtype).itemsize,
                         "inputs": kernel.inputs,
                         "timings": {name: t.as_json() for name, t in timings.items()}}
                results.append(entry)
                del arrays
        return results

    def _check_result(self, kernel: Kernel, arrays) -> None:
        """The module's result agrees with the reference's: the benchmark measures calls
        that compute the right thing."""
        *inputs, result = arrays
        expected = kernel.reference(*inputs)
        pointers = [self.ffi.from_buffer(kernel.c_type + "[]", a) for a in inputs]
        getattr(self.lib, kernel.name)(len(result), *pointers,
                                       self.ffi.from_buffer(kernel.c_type + "[]", result))
        tolerance = 1e-4 if kernel.dtype == "float32" else 1e-9
        if not np.allclose(result, expected, rtol=tolerance, atol=tolerance):
            raise AssertionError(f"{kernel.name} disagrees with {kernel.reference_name}")
