"""What the runtime does on this machine, printed rather than judged: the code path it
took, the largest error of every math function in each accuracy mode, whether the modes
give different bits, the special values that come out other than C99 says, and which
of the runtime's strided forms give other bits than its contiguous ones.

    python tests/characterize.py [ulp] [modes] [special] [strided]    (all by default)

The test suite asserts only what holds on every code path; this run shows what one path
does, for comparison across processors or under MKL_ENABLE_INSTRUCTIONS / MKL_CBWR.
"""

from __future__ import annotations

import ctypes
import sys

import numpy as np
from vantrel.mkl._catalogue.precisions import NUMPY_DTYPES
from vantrel.mkl._catalogue.roles import COUNT, MODE, SCALAR

import accuracy
from accuracy import (
    ACCURACIES,
    BASES,
    ERRMODE_IGNORE,
    FAMILY,
    FORMATS,
    FUNCTIONS,
    PRECISIONS,
    call,
    name_of,
)
from code_path import cpu_model, kernel_libraries, selection
from references import ZERO_SIGN_OPEN


def by_family():
    return sorted(BASES, key=lambda b: (FAMILY[b], b))


def print_ulp_table(ffi, lib):
    print(f"{'family':<18}{'function':<12}{'letter':<8}" + "".join(f"{a:>11}" for a in ACCURACIES))
    for base, letter in by_family():
        row = [accuracy.measure(ffi, lib, base, letter, mode)[0] for mode in ACCURACIES]
        print(f"{FAMILY[base, letter]:<18}{base:<12}{letter:<8}"
              + "".join(f"{e:11.3g}" for e in row))


def mode_results(ffi, lib, base, letter):
    """Every output of the m form on the samples, as bytes, per accuracy mode."""
    results = {}
    for mode, value in ACCURACIES.items():
        results[mode] = b"".join(
            output.tobytes()
            for batch in accuracy.batches(base, letter)
            for output in call(ffi, lib, name_of(base, letter, True), batch.inputs,
                               batch.scalars, value | ERRMODE_IGNORE))
    return results


def print_mode_differences(ffi, lib):
    """Which pairs of accuracy modes give other bits on the samples."""
    pairs = [("HA", "LA"), ("HA", "EP"), ("LA", "EP")]
    identical = []
    print(f"{'function':<16}" + "".join(f"{a + '/' + b:>8}" for a, b in pairs))
    for base, letter in by_family():
        results = mode_results(ffi, lib, base, letter)
        differ = [results[a] != results[b] for a, b in pairs]
        if not any(differ):
            identical.append(name_of(base, letter, False))
            continue
        print(f"{name_of(base, letter, False):<16}"
              + "".join(f"{'differ' if d else 'same':>8}" for d in differ))
    print(f"the same bits in all three modes ({len(identical)}): {' '.join(identical)}")


def print_special_values(ffi, lib):
    """Each special input whose result differs from C99's, in HA; a zero whose sign the
    runtime leaves open is listed too, marked 'open'."""
    shown = 0
    for base, letter in by_family():
        fmt = FORMATS[letter]
        sign_open = ZERO_SIGN_OPEN.get(base)
        for batch in accuracy.special_batches(base, letter):
            outputs = call(ffi, lib, name_of(base, letter, True), batch.inputs, batch.scalars,
                           ACCURACIES["HA"] | ERRMODE_IGNORE)
            for output, expected in zip(outputs, batch.reference):
                strict = accuracy.special_mismatches(output, expected, fmt, 1.0)
                lenient = set(accuracy.special_mismatches(
                    output, expected, fmt, 1.0,
                    sign_open(batch.inputs[0]) if sign_open else None))
                for i in strict:
                    arguments = ", ".join(repr(np.asarray(x)[i].item()) for x in batch.inputs)
                    scalars = "".join(f", {s!r}" for s in batch.scalars)
                    note = "" if i in lenient else "  (open)"
                    print(f"{name_of(base, letter, False)}({arguments}{scalars}) = "
                          f"{output[i].item()!r}, C99: {expected[i].item()!r}{note}")
                    shown += 1
    print(f"{shown} special results differ from C99")


STRIDE = 2  # elements between the ones the strided form reads and writes
# The runtime's complex records, by value, by their parts' type.
COMPLEX_RECORDS = {real: type(f"Complex_{real.__name__}", (ctypes.Structure,),
                              {"_fields_": [("real", real), ("imag", real)]})
                   for real in (ctypes.c_float, ctypes.c_double)}


def call_strided(runtime, name: str, inputs, scalars, mode):
    """The m form's strided twin (vmdExpI: an increment after each array) on the inputs
    spread STRIDE apart; returns the outputs, gathered back."""
    function = FUNCTIONS[name]
    precision = PRECISIONS[function.letter]
    n = len(inputs[0])
    real = ctypes.c_float if precision.real.spelling == "float" else ctypes.c_double
    given_inputs, given_scalars = iter(inputs), iter(scalars)
    arguments, outputs, kept = [], [], []
    for parameter in function.params:
        role = parameter.role
        if role is COUNT:
            arguments.append(ctypes.c_int(n))
        elif role.array:
            if not role.written:
                array = np.repeat(np.ascontiguousarray(next(given_inputs)), STRIDE)
            else:
                array = np.full(n * STRIDE, np.nan, dtype=NUMPY_DTYPES[role.value(precision)])
                outputs.append(array)
            kept.append(array)
            arguments += [ctypes.c_void_p(array.ctypes.data), ctypes.c_int(STRIDE)]
        elif role is SCALAR:
            value = next(given_scalars)
            if precision.is_complex:  # a record by value, not an array (a pointer)
                arguments.append(COMPLEX_RECORDS[real](value.real, value.imag))
            else:
                arguments.append(real(value))
        elif role is MODE:
            arguments.append(ctypes.c_longlong(mode))
    getattr(runtime, name + "I")(*arguments)
    return [output[::STRIDE] for output in outputs]


def print_strided_differences(ffi, lib):
    """Which m forms, in which accuracy, give other bits through their strided twin than
    on contiguous arrays (vm copies strided operands rather than differ by layout)."""
    runtime = ctypes.CDLL("libmkl_rt.so.3")  # the library already loaded, by its soname
    differing = []
    for base, letter in by_family():
        name = name_of(base, letter, True)
        if not hasattr(runtime, name + "I"):
            continue
        for mode, value in ACCURACIES.items():
            for batch in accuracy.batches(base, letter):
                contiguous = call(ffi, lib, name, batch.inputs, batch.scalars,
                                  value | ERRMODE_IGNORE)
                strided = call_strided(runtime, name, batch.inputs, batch.scalars,
                                       value | ERRMODE_IGNORE)
                if any(a.tobytes() != np.ascontiguousarray(b).tobytes()
                       for a, b in zip(contiguous, strided)):
                    differing.append(f"{name}:{mode}")
                    break
    print(f"strided forms (increment {STRIDE}) with other bits than the contiguous "
          f"({len(differing)}): {' '.join(differing)}")


SECTIONS = {"ulp": print_ulp_table, "modes": print_mode_differences,
            "special": print_special_values, "strided": print_strided_differences}


def main(names):
    from vantrel.mkl.tessivec import ffi, lib
    print(f"processor: {cpu_model()}")
    print(f"runtime kernels: {', '.join(kernel_libraries())} ({selection()})")
    previous = lib.vmlSetMode(ACCURACIES["HA"] | ERRMODE_IGNORE)
    try:
        for name in names or SECTIONS:
            print(f"\n== {name}")
            SECTIONS[name](ffi, lib)
    finally:
        lib.vmlSetMode(previous)


if __name__ == "__main__":
    main(sys.argv[1:])
