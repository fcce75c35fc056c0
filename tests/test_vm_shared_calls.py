"""Large calls shared out among the runtime's threads, strided and broadcast ones with
their copies through buffers: the same bits as the contiguous call on one thread, in the
calling thread's mode, with every condition reported on the calling thread and its state
left as it was. Every large call is shared here, whatever sharing would gain."""

import ctypes
import os
import subprocess

import numpy as np
import pytest
from vantrel.mkl import _dispatch, vm

from code_path import shares_calls
from test_vm_results import LAYOUT_CASES, operands, results_of, same
from threads import on_a_thread_of_its_own

pytestmark = pytest.mark.usefixtures("clean_runtime_state")


@pytest.fixture(scope="module", autouse=True)
def every_large_call_shared():
    previous = _dispatch.set_sharing("always")
    yield
    _dispatch.set_sharing(previous)

N = 4 * 2**15 + 5  # several parts, the last one short
# The calling thread takes the first part, and the others join as they wake: a call of
# many parts has some of its later ones computed elsewhere, which ones varying from call
# to call.
MANY = 2**20 + 5
SHARED = pytest.mark.skipif(not shares_calls(),
                            reason="one processor, or no OpenMP team the runtime could lend")


def spread(a):
    return np.repeat(a, 2)[::2]


@SHARED
def test_large_calls_are_shared_in_every_layout():
    before = _dispatch.calls_shared()
    x = np.ones(N)
    vm.exp(spread(x))
    vm.add(x, 1.0)
    vm.exp(x)
    vm.exp(x, out=x)
    vm.exp(x[: 2**14 - 1])  # too small to share
    assert _dispatch.calls_shared() == before + 4


def test_the_way_of_sharing_is_checked():
    with pytest.raises(ValueError, match="'learnt', 'always' or 'never'"):
        _dispatch.set_sharing("sometimes")
    with pytest.raises(TypeError):
        _dispatch.set_sharing(1)
    assert _dispatch.set_sharing("always") == "always"


@pytest.mark.parametrize("function, loop", LAYOUT_CASES)
def test_shared_calls_give_the_contiguous_bits(function, loop):
    arrays, scalars = operands(function, loop, N)
    _dispatch.set_sharing("never")
    try:
        contiguous = results_of(function, *arrays, *scalars)
    finally:
        _dispatch.set_sharing("always")
    same(results_of(function, *arrays, *scalars), contiguous)
    if len(contiguous) == 1 and contiguous[0].dtype == arrays[0].dtype:
        y = arrays[0].copy()
        same(results_of(function, y, *arrays[1:], *scalars, out=y), contiguous)
    same(results_of(function, *[spread(a) for a in arrays], *scalars), contiguous)
    outs = tuple(np.zeros(2 * N, r.dtype)[::2] for r in contiguous)
    same(results_of(function, *arrays, *scalars, out=outs), contiguous)


# Inputs on which a mode may give other bits than HA, in every part: subnormal exp
# results (for FTZ), and ordinary values for the accuracies.
MODE_PROBES = [(name, np.resize(np.linspace(low, high, 4096), MANY))
               for name, low, high in [("exp", -745.0, 3.0), ("sin", 0.1, 30.0),
                                       ("erf", -2.0, 2.0), ("cbrt", 0.1, 9.0)]]


def differs_and_is_kept(mode):
    """Whether the mode gives other bits than HA for some probe; asserts that where it
    does, the shared calls give the contiguous call's bits."""
    with np.errstate(all="ignore"):
        for name, x in MODE_PROBES:
            for values in (x, x.astype(np.float32)):
                with vm.mode(mode):
                    contiguous = getattr(vm, name)(values)
                if contiguous.tobytes() == getattr(vm.ha, name)(values).tobytes():
                    continue
                with vm.mode(mode):
                    assert getattr(vm, name)(spread(values)).tobytes() == contiguous.tobytes()
                    y = spread(values)
                    getattr(vm, name)(y, out=y)  # in place: the parts collect conditions
                    assert y.tobytes() == contiguous.tobytes()
                return True
    return False


@pytest.mark.parametrize("mode", [vm.LA, vm.EP, vm.HA | vm.FTZDAZ_ON],
                         ids=["LA", "EP", "FTZDAZ_ON"])
def test_shared_calls_compute_in_the_calling_threads_mode(mode):
    # The other threads have modes of their own: only where the mode changes the bits
    # does the shared call show which mode its parts computed in. On a thread of its own,
    # since leaving FTZDAZ_ON sets FTZDAZ_OFF in the thread's mode.
    if not on_a_thread_of_its_own(differs_and_is_kept, mode):
        pytest.skip("on this processor's code path the mode gives the same bits as HA")


# What a library built with -ffast-math does to the thread that loads it.
FLUSH_SETTER = r"""
#include <xmmintrin.h>
void set_flushing(unsigned bits) { _mm_setcsr((_mm_getcsr() & ~0x8040u) | bits); }
"""
FTZ, DAZ = 0x8000, 0x0040


@pytest.fixture(scope="module")
def set_flushing(tmp_path_factory):
    directory = tmp_path_factory.mktemp("flushing")
    (directory / "flushing.c").write_text(FLUSH_SETTER)
    library = directory / "libflushing.so"
    subprocess.run([os.environ.get("CC", "cc"), "-shared", "-fPIC", "-O1", "-o", str(library),
                    str(directory / "flushing.c")], check=True, capture_output=True)
    function = ctypes.CDLL(str(library)).set_flushing
    function.argtypes = [ctypes.c_uint]
    return function


@pytest.mark.parametrize("bits", [FTZ | DAZ, FTZ, DAZ], ids=["FTZ and DAZ", "FTZ", "DAZ"])
def test_shared_calls_follow_the_calling_threads_processor_state(set_flushing, bits):
    # Subnormal results near the end; subnormal inputs near the start, whose square roots
    # are normal.
    x = np.concatenate([np.full(N // 2, 1e-310), np.linspace(-700.0, -745.0, N - N // 2)])

    def compute():
        set_flushing(bits)
        try:
            with np.errstate(all="ignore"):
                return [(f(x), f(spread(x)), f(x[::-1].copy()[::-1]))
                        for f in (vm.exp, vm.sqrt)]
        finally:
            set_flushing(0)

    for contiguous, strided, backwards in on_a_thread_of_its_own(compute):
        assert strided.tobytes() == contiguous.tobytes()
        assert backwards.tobytes() == contiguous.tobytes()


@pytest.mark.parametrize("in_place", [False, True], ids=["new output", "in place"])
def test_conditions_met_in_any_part_are_reported(in_place):
    # Repeated, one of the calls almost surely meets the condition on another thread.
    for position in (3, MANY // 2, MANY - 2):  # the first part, a middle one, the last
        values = np.ones(MANY)
        values[position - 1], values[position] = 0.0, -1.0
        for condition in ("invalid", "divide"):
            for _ in range(8):
                x = spread(values)
                with np.errstate(all="ignore", **{condition: "raise"}), \
                        pytest.raises(FloatingPointError):
                    vm.ln(*((x, x) if in_place else (x,)))


def test_shared_calls_leave_the_calling_threads_state(ffi, lib):
    with vm.mode(vm.EP | vm.ERRMODE_STDERR | vm.ERRMODE_CALLBACK):
        lib.vmlSetErrStatus(vm.STATUS_OVERFLOW)
        callback = ffi.callback("VMLErrorCallBack", lambda context: 0)
        lib.vmlSetErrorCallBack(callback)
        mode = vm.get_mode()
        x = spread(np.linspace(-1.0, 1.0, N))
        with np.errstate(all="ignore"):
            vm.ln(x)
            vm.ln(x, out=x)
        assert vm.get_mode() == mode
        assert lib.vmlGetErrStatus() == vm.STATUS_OVERFLOW
        assert lib.vmlGetErrorCallBack() == callback
