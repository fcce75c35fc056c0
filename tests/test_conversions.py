"""Argument and result conversions, as the real runtime observes them. How each
argument reaches the runtime, bit for bit, is checked with the recording runtime
(recorded_lib.py)."""

import errno
import math
import resource
import subprocess
import sys

import pytest

from arguments import Spy
from runtime_values import (
    ACCURACY_MASK,
    EP,
    ERRMODE_ERRNO,
    ERRMODE_MASK,
    HA,
    LA,
    STATUS_BADSIZE,
    STATUS_OK,
)


def test_negative_count_reaches_the_runtime(ffi, lib, clean_runtime_state):
    x, r = ffi.new("double[1]"), ffi.new("double[1]")
    lib.vdExp(-1, x, r)
    assert lib.vmlGetErrStatus() == STATUS_BADSIZE
    lib.vmlClearErrStatus()
    lib.vdexp([-1], x, r)
    assert lib.vmlGetErrStatus() == STATUS_BADSIZE


@pytest.mark.parametrize("n", [81, 100_000])  # past the stack's 640 bytes: heap scratch
def test_large_lists_are_converted(ffi, lib, n):
    out = ffi.new("double[]", n)
    lib.vdSqrt(n, [4.0] * n, out)
    assert out[0] == out[n - 1] == 2.0


def test_ten_million_element_list(ffi, lib):
    n = 10_000_000
    out = ffi.new("double[]", n)
    lib.vdSqrt(n, [4.0] * n, out)
    assert out[n - 1] == 2.0


def test_heap_scratch_is_released_on_failure(ffi, lib):
    big = [1.0] * 1_000_000  # 8 MB of scratch per call
    x = ffi.new("double[]", 1_000_000)

    def max_rss_kib():
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss

    lib.vdAdd(1, big, big, x)
    before = max_rss_kib()
    for _ in range(40):
        with pytest.raises(TypeError):
            lib.vdAdd(1, big, big, "not an array")
        lib.vdAdd(1, big, big, x)
    assert max_rss_kib() - before < 100_000  # 40 leaked pairs would be 640 MB


def test_errno_is_the_runtimes_after_the_call(ffi, lib, clean_runtime_state):
    lib.vmlSetMode(HA | ERRMODE_ERRNO)
    ffi.errno = 0
    r = ffi.new("double[1]")
    lib.vdLn(1, ffi.new("double[]", [-1.0]), r)
    assert ffi.errno == errno.EDOM
    assert math.isnan(r[0])


def test_first_failing_argument_stops_the_call(ffi, lib, clean_runtime_state):
    a, b = ffi.new("float[]", [1.0]), ffi.new("float[]", [1.0])
    r = ffi.new("float[]", [5.0])
    later = Spy()
    with pytest.raises(TypeError):
        lib.vsLinearFrac(1, a, "not an array", later, later, later, later, r)
    with pytest.raises(TypeError):
        lib.vsLinearFrac(1, a, b, "not a number", later, later, later, r)
    with pytest.raises(OverflowError):
        lib.vmsLinearFrac(2 ** 31, a, b, later, later, later, later, r, later)
    assert later.conversions == 0
    assert r[0] == 5.0 and lib.vmlGetErrStatus() == STATUS_OK


@pytest.mark.parametrize("call", [
    lambda ffi, lib, x, r: lib.vsadd(1, x, x, r),  # a count by pointer refuses an integer
    lambda ffi, lib, x, r: lib.vsAdd([1], x, x, r),  # and by value refuses a list
    lambda ffi, lib, x, r: lib.vspowx([1], x, 2.0, r),
    lambda ffi, lib, x, r: lib.vsPowx(1, x, [2.0], r),
    lambda ffi, lib, x, r: lib.vsPackI(1, x, [1], r),
    lambda ffi, lib, x, r: lib.vspacki([1], x, 1, r),
    lambda ffi, lib, x, r: lib.vdAdd(1, x, x, r),  # float arrays where double ones belong
    lambda ffi, lib, x, r: lib.vcAbs(1, ffi.new("MKL_Complex8[1]"), ffi.new("MKL_Complex8[1]")),
    lambda ffi, lib, x, r: lib.vzSin(1, ffi.new("MKL_Complex8[1]"), ffi.new("MKL_Complex16[1]")),
    lambda ffi, lib, x, r: lib.vzPowx(1, ffi.new("MKL_Complex16[1]"), "e", r),
])
def test_unsuitable_objects_are_refused(ffi, lib, clean_runtime_state, call):
    x, r = ffi.new("float[1]"), ffi.new("float[]", [5.0])
    with pytest.raises(TypeError):
        call(ffi, lib, x, r)
    assert r[0] == 5.0 and lib.vmlGetErrStatus() == STATUS_OK


def test_all_ones_values_reach_the_runtime(lib, clean_runtime_state):
    assert lib.vmlSetErrStatus(-1) == STATUS_OK
    assert lib.vmlGetErrStatus() == -1
    # A mode of all ones but a defined accuracy (EP) turns on fields that no later mode
    # clears: use a fresh process.
    code = ("from vantrel.mkl.tessivec import lib\n"
            "before = lib.vmlGetMode()\n"
            f"assert lib.vmlSetMode({0xFFFFFFFF & ~ACCURACY_MASK | EP}) == before\n"
            f"print(lib.vmlGetMode() & {ERRMODE_MASK | ACCURACY_MASK})")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            check=True)
    # The accuracy and every error-mode bit taken.
    assert int(result.stdout) == ERRMODE_MASK | EP


def test_by_reference_mode_setter_takes_a_pointer_or_a_list(ffi, lib, clean_runtime_state):
    old = lib.vmlGetMode()
    assert lib.vmlsetmode([HA]) == old
    assert lib.vmlGetMode() & ACCURACY_MASK == HA
    now = lib.vmlGetMode()
    assert lib.VMLSETMODE(ffi.new("unsigned int *", LA)) == now
    assert lib.vmlGetMode() & ACCURACY_MASK == LA
    with pytest.raises(TypeError):
        lib.vmlsetmode(HA)


def test_null_callback_passes_and_returns_a_pointer_object(ffi, lib, clean_runtime_state):
    previous = lib.vmlSetErrorCallBack(ffi.NULL)
    assert ffi.typeof(previous) is ffi.typeof("VMLErrorCallBack")
    assert lib.vmlGetErrorCallBack() == ffi.NULL
    with pytest.raises(TypeError):
        lib.vmlSetErrorCallBack(ffi.new("int *"))
