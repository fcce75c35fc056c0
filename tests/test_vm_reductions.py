"""Reductions and accumulations with vm's ufuncs give NumPy's answers: add sums pairwise
as np.add does, multiply folds as np.multiply does, over any axis, layout and keyword;
every other ufunc folds from the left, one element at a time."""

import math
import warnings

import numpy as np
import pytest
from vantrel.mkl import vm

pytestmark = pytest.mark.usefixtures("clean_runtime_state")

RNG = np.random.default_rng(19)
GRID = RNG.standard_normal((37, 300))  # rows longer than NumPy's block of 128


def same(got, want):
    """Equal values, signs of zeros aside (NumPy's own sum of zeros starts from -0.0 in
    some releases and from 0.0 in others)."""
    got, want = np.asarray(got), np.asarray(want)
    assert got.dtype == want.dtype and got.shape == want.shape
    assert np.array_equal(got, want, equal_nan=True)
    nonzero = want != 0
    assert got[nonzero].tobytes() == want[nonzero].tobytes()


def test_a_float32_sum_is_as_accurate_as_numpys():
    x = np.full(10**7, 0.1, np.float32)
    exact = math.fsum(x.astype(np.float64))
    vm_error = abs(float(vm.add.reduce(x)) - exact)
    assert vm_error <= 2 * abs(float(np.add.reduce(x)) - exact)  # a left fold: 87937


LAYOUTS = {
    "C": lambda a: a,
    "Fortran": np.asfortranarray,
    "strided": lambda a: np.repeat(a, 3, axis=1)[:, 1::3],
    "transposed": lambda a: a.T.copy().T,
}
KEYWORDS = {
    "all": dict(axis=None),
    "axis 0": dict(axis=0),
    "axis 1": dict(axis=1),
    "both axes": dict(axis=(0, 1)),
    "keepdims": dict(axis=1, keepdims=True),
    "initial": dict(axis=1, initial=0.5),
    "where": dict(axis=1, where=GRID > -0.5, initial=0.0),
}
PAIRS = [(vm.add, np.add, dtype) for dtype in ("float32", "float64", "complex64", "complex128")]
PAIRS += [(vm.mul, np.multiply, dtype) for dtype in ("float32", "float64")]


def values(dtype):
    grid = GRID if np.dtype(dtype).kind == "f" else GRID + 1j * GRID[::-1]
    # Products of many values stay finite near 1.
    return grid.astype(dtype)


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("keywords", KEYWORDS.values(), ids=list(KEYWORDS))
@pytest.mark.parametrize("ours, numpys, dtype", PAIRS,
                         ids=[f"{p[1].__name__}-{p[2]}" for p in PAIRS])
def test_reduce_gives_numpys_bits(ours, numpys, dtype, keywords, layout):
    grid = values(dtype)
    if ours is vm.mul:
        grid = (1 + grid / 64).astype(dtype)
    a = LAYOUTS[layout](grid)
    same(ours.reduce(a, **keywords), numpys.reduce(a, **keywords))


def test_reduce_in_another_precision_and_of_integers():
    a = RNG.integers(-1000, 1000, 5000)
    same(vm.add.reduce(a, dtype=np.float64), np.add.reduce(a, dtype=np.float64))
    b = GRID.astype(np.float32)
    same(vm.add.reduce(b, axis=1, dtype=np.float64), np.add.reduce(b, axis=1, dtype=np.float64))
    out = np.empty(37)
    assert vm.add.reduce(GRID, axis=1, out=out) is out
    same(out, np.add.reduce(GRID, axis=1))
    same(vm.add.reduce(np.empty((0, 3))), np.add.reduce(np.empty((0, 3))))


@pytest.mark.parametrize("dtype", ["float32", "float64", "complex128"])
def test_accumulate_and_reduceat_fold_as_numpys(dtype):
    a = values(dtype)[0]
    same(vm.add.accumulate(a), np.add.accumulate(a))
    same(vm.sub.accumulate(a), np.subtract.accumulate(a))
    same(vm.add.accumulate(values(dtype), axis=0), np.add.accumulate(values(dtype), axis=0))
    indices = [0, 5, 5, 200, 17, 299]
    same(vm.add.reduceat(a, indices), np.add.reduceat(a, indices))
    if np.dtype(dtype).kind == "f":
        same(vm.mul.accumulate(1 + a / 64), np.multiply.accumulate(1 + a / 64))
        same(vm.sub.reduce(a), np.subtract.reduce(a))


def conditions(call):
    with warnings.catch_warnings(record=True) as caught, np.errstate(all="warn"):
        warnings.simplefilter("always")
        call()
    return sorted({str(w.message).split(" encountered")[0] for w in caught})


@pytest.mark.parametrize("dtype", ["float32", "float64"])
@pytest.mark.parametrize("case", [
    [1.0, np.inf, -np.inf],  # invalid
    [0.75, 2.0] * 400,  # ordinary
    "max",  # overflow
])
def test_reductions_report_numpys_conditions(case, dtype):
    big = np.finfo(dtype).max
    a = np.array([big, big / 2, 3.0] * 10 if case == "max" else case, dtype=dtype)
    for ours, numpys in ((vm.add, np.add), (vm.mul, np.multiply)):
        assert conditions(lambda: ours.reduce(a)) == conditions(lambda: numpys.reduce(a))
