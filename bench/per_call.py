"""Per-call overhead on count-1 inputs, for each wrapper shape of the module."""

from __future__ import annotations

import ctypes
import math
from dataclasses import dataclass
from typing import Callable

import numpy as np

from ctypes_binding import ctypes_doubles, ctypes_function
from harness import Batch, calls_for, interleave, python_batch

MODULE = "module"
FLOOR = "floor"
CTYPES = "ctypes"
ABI = "ABI-mode CFFI"
NUMPY = "NumPy ufunc"
RUNTIME_FROM_C = "runtime from C"
EMPTY_LOOP = "empty loop"
FLOOR_THROUGH_BACKEND = "floor + backend conversions"
FLOOR_WITH_ERRNO = "floor + backend conversions + errno bracket"
# The module on memory that other objects lend through ffi.from_buffer, which each call
# holds with a buffer export of its own, against its own ffi.new arrays (MODULE).
FROM_NUMPY = "module, from_buffer of NumPy arrays"
FROM_BYTEARRAY = "module, from_buffer of bytearrays"
BORROWED = (MODULE, FROM_NUMPY, FROM_BYTEARRAY)

CONTENDERS = (MODULE, FLOOR, CTYPES, ABI, NUMPY, RUNTIME_FROM_C)
BREAKDOWN = (RUNTIME_FROM_C, EMPTY_LOOP, FLOOR, FLOOR_THROUGH_BACKEND, FLOOR_WITH_ERRNO, MODULE)


@dataclass
class Shape:
    call: str  # the call as the table shows it
    wrapper: str  # the module's wrapper shape
    symbol: str  # the runtime symbol the contenders call
    statement: str  # the call with local names f (function) and arrays a, b, r
    numpy: str | None  # the NumPy statement, or None where NumPy has no equivalent
    # ctypes takes a by-reference count as a c_int, passed by reference through argtypes
    ctypes_statement: str | None = None


SHAPES = (
    Shape("vdExp(1, a, r)", "3-argument tuple", "vdExp", "f(1, a, r)", "f(a, r)"),
    Shape("vdAdd(1, a, b, r)", "4-argument tuple", "vdAdd", "f(1, a, b, r)", "f(a, b, r)"),
    Shape("vmdLinearFrac(1, a, b, 2.0, 1.0, 3.0, 1.0, r, mode)", "9-argument tuple",
          "vmdLinearFrac", "f(1, a, b, 2.0, 1.0, 3.0, 1.0, r, mode)", None),
    Shape("vdadd([1], a, b, r)", "by-reference spelling, list count", "vdadd_",
          "f([1], a, b, r)", None, "f(c_int(1), a, b, r)"),
    Shape("vmlSetErrStatus(0)", "one argument", "vmlSetErrStatus", "f(0)", None),
    Shape("vmlGetMode()", "no argument", "vmlGetMode", "f()", None),
)

NUMPY_UFUNCS = {"vdExp": np.exp, "vdAdd": np.add}

# What the math calls leave in r for a = 0.5 and b = 0.25, and the contenders that write
# it into the shared array: each is checked once before it is timed.
EXPECTED_RESULTS = {"vdExp": math.exp(0.5), "vdAdd": 0.75, "vmdLinearFrac": 2.0 / 1.75,
                    "vdadd_": 0.75}
SHARED_ARRAYS = (MODULE, FLOOR, FLOOR_THROUGH_BACKEND, FLOOR_WITH_ERRNO, RUNTIME_FROM_C)


def _module_name(shape: Shape) -> str:
    return "vdadd" if shape.symbol == "vdadd_" else shape.symbol


def _lender(contender: str, value: float):
    """One double's memory, lent by a NumPy array or a bytearray."""
    array = np.array([value])
    return array if contender == FROM_NUMPY else bytearray(array.tobytes())


def _statement(shape: Shape, contender: str) -> str:
    if contender == NUMPY:
        return shape.numpy
    if contender == CTYPES and shape.ctypes_statement:
        return shape.ctypes_statement
    return shape.statement


class PerCallBench:
    def __init__(self, lib, ffi, abi_lib, abi_ffi, floor, native, mode: int):
        self.lib, self.ffi = lib, ffi
        self.abi_lib, self.abi_ffi = abi_lib, abi_ffi
        self.floor, self.native = floor, native
        self.mode = mode
        self.arrays = {"a": ffi.new("double[1]", [0.5]), "b": ffi.new("double[1]", [0.25]),
                       "r": ffi.new("double[1]")}

    def _values(self, shape: Shape, contender: str) -> dict | None:
        arrays = dict(self.arrays)
        if contender == MODULE:
            function = getattr(self.lib, _module_name(shape))
        elif contender in (FROM_NUMPY, FROM_BYTEARRAY):
            function = getattr(self.lib, _module_name(shape))
            arrays = {name: self.ffi.from_buffer("double[]", _lender(contender, array[0]))
                      for name, array in self.arrays.items()}
        elif contender in (FLOOR, FLOOR_THROUGH_BACKEND, FLOOR_WITH_ERRNO):
            suffix = {FLOOR: "", FLOOR_THROUGH_BACKEND: "_through_backend",
                      FLOOR_WITH_ERRNO: "_with_errno"}[contender]
            function = getattr(self.floor, _module_name(shape) + suffix)
        elif contender == ABI:
            function = getattr(self.abi_lib, shape.symbol)
            arrays = {name: self.abi_ffi.new("double[1]", list(array))
                      for name, array in self.arrays.items()}
        elif contender == CTYPES:
            function = ctypes_function(shape.symbol)
            arrays = {name: ctypes_doubles(list(array)) for name, array in self.arrays.items()}
        elif contender == NUMPY:
            if shape.numpy is None:
                return None
            function = NUMPY_UFUNCS[shape.symbol]
            arrays = {name: np.array(list(array)) for name, array in self.arrays.items()}
        else:
            raise ValueError(contender)
        return {"f": function, **arrays, "mode": self.mode, "c_int": ctypes.c_int}

    def _python_batch_of(self, shape: Shape, contender: str) -> Callable[[int], Batch] | None:
        values = self._values(shape, contender)
        if values is None:
            return None
        return lambda calls: python_batch(_statement(shape, contender), values, calls)

    def _native_batch_of(self, shape: Shape) -> Callable[[int], Batch]:
        a, b, r = (self.ffi.cast("uintptr_t", self.arrays[name]) for name in "abr")
        a, b, r = int(a), int(b), int(r)
        entry = getattr(self.native, "native_" + _module_name(shape))
        arguments = {
            "vdExp": (1, a, r), "vdAdd": (1, a, b, r), "vmdLinearFrac": (1, a, b, r, self.mode),
            "vdadd": (1, a, b, r), "vmlSetErrStatus": (0,), "vmlGetMode": (),
        }[_module_name(shape)]
        return lambda calls: (lambda: entry(*arguments, calls) / calls)

    def _batch_builders(self, shape: Shape) -> dict[str, Callable[[int], Batch]]:
        contenders = list(CONTENDERS)
        if shape.symbol == "vdAdd":
            contenders += [EMPTY_LOOP, FLOOR_THROUGH_BACKEND, FLOOR_WITH_ERRNO, FROM_NUMPY,
                           FROM_BYTEARRAY]
        builders = {}
        for contender in contenders:
            if contender == RUNTIME_FROM_C:
                builders[contender] = self._native_batch_of(shape)
            elif contender == EMPTY_LOOP:
                builders[contender] = lambda calls: python_batch("pass", {}, calls)
            else:
                batch_of = self._python_batch_of(shape, contender)
                if batch_of is not None:
                    builders[contender] = batch_of
        return builders

    def _check_result(self, shape: Shape, contender: str, batch_of) -> None:
        expected = EXPECTED_RESULTS.get(shape.symbol)
        if expected is None or contender not in SHARED_ARRAYS:
            return
        self.arrays["r"][0] = 0.0
        batch_of(1)()
        if not math.isclose(self.arrays["r"][0], expected):
            raise AssertionError(f"{contender}: {shape.call} left {self.arrays['r'][0]}")

    def run(self, batch_seconds: float, rounds: int) -> list[dict]:
        results = []
        for shape in SHAPES:
            batches = {}
            for contender, batch_of in self._batch_builders(shape).items():
                self._check_result(shape, contender, batch_of)
                batches[contender] = batch_of(calls_for(batch_of, batch_seconds))
            timings = interleave(batches, rounds)
            results.append({"call": shape.call, "wrapper": shape.wrapper,
                            "timings": {name: t.as_json() for name, t in timings.items()}})
        return results

