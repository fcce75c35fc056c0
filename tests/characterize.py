"""What the runtime does on this machine, printed rather than judged: the code path it
took, the largest error of every math function in each accuracy mode, whether the modes
give different bits, and the special values that come out other than C99 says.

    python tests/characterize.py [ulp] [modes] [special]    (all three by default)

The test suite asserts only what holds on every code path; this run shows what one path
does, for comparison across processors or under MKL_ENABLE_INSTRUCTIONS / MKL_CBWR.
"""

from __future__ import annotations

import sys

import numpy as np

import accuracy
from accuracy import ACCURACIES, BASES, ERRMODE_IGNORE, FAMILY, FORMATS, call, name_of
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


SECTIONS = {"ulp": print_ulp_table, "modes": print_mode_differences,
            "special": print_special_values}


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
