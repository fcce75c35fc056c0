"""Calls after underflow: once a call has met underflow, its later runs (and a short
first run of the thread's next call) skip the runtime's slow condition handling. What
they report and compute must stay what every other call reports and computes."""

import numpy as np
import pytest
from vantrel.mkl import vm

from threads import on_a_thread_of_its_own

pytestmark = pytest.mark.usefixtures("clean_runtime_state")

N = 40_000  # several runs of the strided path, and far more than a short first run


def underflowing(n, dtype):
    """Values whose exp underflows at every fourth place, ordinary ones elsewhere."""
    values = np.linspace(-3.0, 3.0, n)
    values[::4] = -800.0 if dtype == np.float64 else -120.0
    return values.astype(dtype)


def prime():
    """A call that meets underflow, so that this thread expects it next time."""
    with np.errstate(under="ignore"):
        vm.exp(underflowing(N, np.float64))


# (operation, inputs, condition): each input underflows early on and meets the
# condition only near its end, long after the short first run.
def exp_overflow(dtype):
    x = underflowing(N, dtype)
    x[-3] = 1000.0
    return "exp", (x,), "over"


def exp_underflow_only(dtype):
    return "exp", (underflowing(N, dtype),), "under"


# Of the runtime's functions that report underflow, exp also overflows; a domain error
# or a singularity would be found the same way, by the NaN or infinity it leaves.
CASES = [pytest.param(make, dtype, id=f"{make.__name__}-{np.dtype(dtype).char}")
         for make in (exp_overflow, exp_underflow_only) for dtype in (np.float32, np.float64)]


def layouts(arrays):
    yield "contiguous", arrays
    yield "strided", tuple(np.repeat(a, 2)[::2] for a in arrays)


@pytest.mark.parametrize("make, dtype", CASES)
def test_conditions_after_underflow_are_reported(make, dtype):
    name, arrays, condition = make(dtype)
    ufunc = getattr(vm, name)
    for layout, operands in layouts(arrays):
        prime()
        with np.errstate(all="ignore", **{condition: "raise"}):
            with pytest.raises(FloatingPointError, match=condition):
                ufunc(*operands)
        prime()
        with pytest.warns(RuntimeWarning), np.errstate(all="ignore", **{condition: "warn"}):
            ufunc(*operands)


@pytest.mark.parametrize("make, dtype", CASES)
def test_results_after_underflow_are_the_same_bits(make, dtype):
    name, arrays, _ = make(dtype)
    ufunc = getattr(vm, name)
    def fresh():
        with np.errstate(all="ignore"):
            return ufunc(*arrays)
    expected = on_a_thread_of_its_own(fresh)
    with np.errstate(all="ignore"):
        for layout, operands in layouts(arrays):
            prime()
            assert ufunc(*operands).tobytes() == expected.tobytes(), layout


def test_nan_inputs_after_underflow_raise_nothing():
    x = underflowing(N, np.float64)
    x[-2] = np.nan
    prime()
    with np.errstate(all="raise", under="ignore"):
        result = vm.exp(x)
    assert np.isnan(result[-2])


def test_in_place_calls_after_underflow_report_every_condition():
    x = underflowing(N, np.float64)
    x[-3] = 1000.0
    prime()
    with np.errstate(all="ignore", over="raise"), pytest.raises(FloatingPointError):
        vm.exp(x, out=x)
    assert np.isinf(x[-3]) and x[0] == 0.0


def test_the_thread_state_is_kept_after_underflow(lib):
    mode, status = lib.vmlGetMode(), lib.vmlGetErrStatus()
    name, arrays, _ = exp_overflow(np.float64)
    prime()
    with np.errstate(all="ignore"):
        vm.exp(*arrays)
    assert lib.vmlGetMode() == mode
    assert lib.vmlGetErrStatus() == status
