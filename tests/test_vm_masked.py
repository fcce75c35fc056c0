"""Masked arrays: vm's ufuncs keep their inputs' masks and mask nothing else (numpy.ma's
domains are a table private to numpy.ma, which vm leaves alone); the user guide's two
ways to mask what falls outside the domain give the masks of NumPy's ufuncs."""

import numpy as np
import pytest
from vantrel.mkl import vm

# vm's ufunc, NumPy's, the domain numpy.ma masks by, as the user guide states it, and
# inputs across the domain's edges, with subnormals, infinities and NaN.
DOMAINS = [
    (vm.sqrt, np.sqrt, lambda x: x < 0,
     [-np.inf, -1.0, -5e-324, -0.0, 0.0, 5e-324, 2.0, np.inf, np.nan]),
    (vm.ln, np.log, lambda x: x <= 0, [-np.inf, -1.0, -0.0, 0.0, 5e-324, 1.0, np.inf, np.nan]),
    (vm.log10, np.log10, lambda x: x <= 0, [-1.0, -0.0, 0.0, 1e-300, 10.0, np.inf, np.nan]),
    (vm.asin, np.arcsin, lambda x: abs(x) > 1,
     [-np.inf, -1.5, -1.0, -0.5, 1.0, np.nextafter(1.0, 2.0), 2.0, np.nan]),
    (vm.acos, np.arccos, lambda x: abs(x) > 1,
     [-2.0, np.nextafter(-1.0, -2.0), -1.0, 0.0, 1.0, 1.5, np.inf]),
    (vm.acosh, np.arccosh, lambda x: x < 1,
     [-1.0, 0.5, np.nextafter(1.0, 0.0), 1.0, 3.0, np.inf, np.nan]),
]


def masks(*arrays):
    return [list(np.ma.getmaskarray(a)) for a in arrays]


@pytest.mark.parametrize("ours, numpys, outside, inputs", DOMAINS,
                         ids=[d[0].__name__ for d in DOMAINS])
def test_the_inputs_mask_is_kept_and_the_guides_ways_give_numpys(ours, numpys, outside,
                                                                 inputs):
    values = np.array(inputs)
    given = np.zeros(values.size, bool)
    given[1] = True  # an input already masked stays so
    x = np.ma.array(values, mask=given)
    with np.errstate(all="ignore"):
        got, expected = ours(x), numpys(x)
        by_inputs = np.ma.masked_where(outside(x.data), got)
    assert isinstance(got, np.ma.MaskedArray)
    assert masks(got) == [list(given)]  # the input's mask, nothing more
    assert masks(by_inputs) == masks(expected)
    shown = ~np.ma.getmaskarray(expected)
    assert np.array_equal(by_inputs.data[shown], expected.data[shown], equal_nan=True)
    finite = np.isfinite(values)
    assert masks(np.ma.masked_invalid(got[finite])) == masks(expected[finite])


def test_division_masks_as_numpys_but_near_overflow():
    a = np.ma.array([1.0, -1.0, 0.0, 1.0, 1e-2, 3.0])
    b = np.ma.array([0.0, 0.0, 0.0, 1e-310, 1e-310, 2.0])
    with np.errstate(all="ignore"):
        ours, numpys = np.ma.masked_invalid(vm.div(a, b)), np.divide(a, b)
    # 1e-2 / 1e-310 = 1e308 is finite, but within a factor of four of the largest float.
    assert masks(ours, numpys) == [[True, True, True, True, False, False],
                                   [True, True, True, True, True, False]]


def test_two_results_keep_the_inputs_mask():
    x = np.ma.array([0.5, 1.0, 2.0], mask=[False, True, False])
    sin, cos = vm.sincos(x)
    assert masks(sin, cos) == [[False, True, False]] * 2
    assert np.allclose(sin.compressed(), np.sin([0.5, 2.0]))
