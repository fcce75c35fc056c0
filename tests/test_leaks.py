"""Successful and refused calls leave no references and no memory behind."""

import gc
import sys
import tracemalloc

import pytest

ROUNDS = 5000


def calls(ffi, lib):
    """(arguments, call) pairs over every wrapper shape, succeeding and refused."""
    x, r = ffi.new("double[]", [0.5, 0.25]), ffi.new("double[2]")
    z = ffi.new("MKL_Complex16[]", [(1.0, 1.0), (2.0, 0.0)])
    zr = ffi.new("MKL_Complex16[2]")
    exponent = ffi.new("MKL_Complex16 *", (2.0, 0.0))[0]
    values, count = [0.5, 0.25], [2]
    callback = ffi.callback("VMLErrorCallBack", lambda context: 0)
    return [
        ((x, r), lambda: lib.vdExp(2, x, r)),
        ((values, count, r), lambda: lib.VDEXP(count, values, r)),
        ((z, exponent, zr), lambda: lib.vzPowx(2, z, exponent, zr)),
        ((values, r), lambda: lib.vmdLinearFrac(2, values, values, 1.0, 0.0, 0.0, 1.0, r, 2)),
        ((callback,), lambda: lib.vmlSetErrorCallBack(callback)),
        ((), lambda: lib.vmlGetErrorCallBack()),
        ((count,), lambda: lib.vmlseterrstatus([0])),
        ((values, r), lambda: lib.vdExp(3, values, r)),  # too short
        ((values, r), lambda: lib.vdExp(2, values, "r")),  # wrong type
        ((values, r), lambda: lib.vdExp(2, values)),  # wrong count
        ((values, r), lambda: lib.vsPowx(2, values, "e", r)),  # wrong scalar
    ]


def run(call):
    try:
        call()
    except (TypeError, ValueError):
        pass


def test_reference_counts_stay_flat(ffi, lib, clean_runtime_state):
    for objects, call in calls(ffi, lib):
        run(call)
        before = [sys.getrefcount(o) for o in objects] + [sys.getrefcount(None)]
        for _ in range(ROUNDS):
            run(call)
        after = [sys.getrefcount(o) for o in objects] + [sys.getrefcount(None)]
        assert after == before


@pytest.mark.parametrize("index", range(11))
def test_traced_memory_stays_flat(ffi, lib, clean_runtime_state, index):
    call = calls(ffi, lib)[index][1]
    for _ in range(100):
        run(call)
    gc.collect()
    tracemalloc.start()
    try:
        start = tracemalloc.get_traced_memory()[0]
        for _ in range(ROUNDS):
            run(call)
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()
    assert grown < 16 * 1024
