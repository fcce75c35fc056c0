"""Gather and scatter: NumPy's meaning, every position checked, long arrays in strips."""

import numpy as np
import pytest
from vantrel.mkl import _dispatch, vm

A = np.arange(10.0)
MASK = np.array([1, 0, 2, 0, 0, -1, 0, 0, 1, 0])


@pytest.fixture(params=[2**31 - 1, 3], ids=["whole", "strips-of-3"])
def strips(request):
    previous = _dispatch.set_run_limit(request.param)
    yield
    _dispatch.set_run_limit(previous)


@pytest.mark.usefixtures("strips")
@pytest.mark.parametrize("dtype", ["float32", "float64", "complex64", "complex128"])
def test_the_six_functions_mean_what_numpy_indexing_means(dtype):
    a = (A * (1 + 1j) if dtype.startswith("complex") else A).astype(dtype)
    index = [7, 0, 3, 3, 9]
    assert np.array_equal(vm.packi(a, 3, 4), a[::3][:4])
    assert np.array_equal(vm.packv(a, index), a[index])
    assert np.array_equal(vm.packm(a, MASK), a[MASK != 0])
    assert np.array_equal(vm.packm(a, MASK.astype(bool)), a[MASK != 0])

    out = np.full(12, 5, dtype)
    assert vm.unpacki(a[:4], 3, out) is out
    expected = np.full(12, 5, dtype)
    expected[::3] = a[:4]
    assert np.array_equal(out, expected)

    out, expected = np.full(10, 5, dtype), np.full(10, 5, dtype)
    vm.unpackv(a[:4], [9, 0, 4, 2], out)
    expected[[9, 0, 4, 2]] = a[:4]
    assert np.array_equal(out, expected)

    out, expected = np.full((2, 5), 5, dtype), np.full(10, 5, dtype)
    vm.unpackm(a[:4], MASK, out)  # any shape of out, taken in C order
    expected[MASK != 0] = a[:4]
    assert np.array_equal(out.reshape(-1), expected)


def test_inputs_of_any_layout_and_integer_dtype():
    assert vm.packi(A.reshape(2, 5).T, 2, 3).tolist() == [0.0, 1.0, 2.0]  # in C order
    assert vm.packv(np.arange(6, dtype=np.int32), np.array([5, 1], np.uint8)).dtype == "float64"
    assert vm.packv(A, []).shape == (0,)
    # A mask value whose low 32 bits are zero is still non-zero.
    assert vm.packm(A[:2], np.array([2**32, 0])).tolist() == [0.0]


def test_out_of_pack_functions_is_checked_and_returned():
    out = np.empty(4)
    assert vm.packi(A, 3, 4, out=out) is out
    with pytest.raises(ValueError, match=r"vm.packv: out has shape \(4,\), the result's shape is"):
        vm.packv(A, [1, 2], out=out)
    with pytest.raises(TypeError, match="vm.unpacki: out has dtype float32"):
        vm.unpacki(A, 1, np.empty(10, np.float32))
    with pytest.raises(ValueError, match="vm.unpacki: out is not C-contiguous"):
        vm.unpacki(A, 1, np.empty(20)[::2])
    with pytest.raises(ValueError, match="vm.unpackv: out is read-only"):
        vm.unpackv(A[:1], [0], np.frombuffer(bytes(80)))


@pytest.mark.parametrize("call, error, message", [
    (lambda: vm.packi(A, 0, 2), ValueError, "incr must be from 1 to 2"),
    (lambda: vm.packi(A, -1, 2), ValueError, "incr must be from 1"),
    (lambda: vm.packi(A, 3, 5), ValueError, r"a has 10 elements; n=5 at increment 3 reads 13"),
    (lambda: vm.packi(A, 1, -1), ValueError, "n must be from 0"),
    (lambda: vm.packi(A, 1.0, 2), TypeError, "incr must be an integer, not float"),
    (lambda: vm.packv(A, [0, 10]), ValueError, "index holds positions outside a"),
    (lambda: vm.packv(A, [-1]), ValueError, "index holds positions outside a"),
    (lambda: vm.packv(A, [0.0]), TypeError, "index must hold integers, not float64"),
    (lambda: vm.packv(A, [True]), TypeError, "index must hold integers, not bool"),
    (lambda: vm.packm(A, MASK[:9]), ValueError, "mask has 9 elements, a has 10"),
    (lambda: vm.packm(A, MASK * 0.5), TypeError, "mask must hold booleans or integers"),
    (lambda: vm.unpacki(A, 2, np.empty(18)), ValueError, "out has 18 elements; a's 10 at"),
    (lambda: vm.unpackv(A, range(9), np.empty(10)), ValueError, "index has 9 elements, a has"),
    (lambda: vm.unpackv(A[:2], [0, 10], np.empty(10)), ValueError, "outside out"),
    (lambda: vm.unpackm(A, MASK, np.empty(10)), ValueError, "a has 10 elements, mask selects 4"),
    (lambda: vm.unpackm(A[:4], MASK, np.empty(11)), ValueError, "mask has 10 elements, out has"),
    (lambda: vm.packi(A.astype(np.complex128), 1, 2, out=np.empty(2)), TypeError,
     "out has dtype float64, the result's dtype is complex128"),
])
def test_every_position_is_checked_before_the_runtime_runs(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_scatter_into_the_array_gathered_from():
    a = A.copy()
    vm.unpacki(a[:5], 2, a)  # reads a[:5] before writing a[::2]
    assert a[::2].tolist() == A[:5].tolist()
    a = A.copy()
    vm.packv(a, [9, 8, 7], out=a[:3])
    assert a[:3].tolist() == [9.0, 8.0, 7.0]


def test_the_runtime_reads_a_checked_copy_of_the_index():
    # The index shares out's memory: the gather writes over it while it runs.
    out = np.zeros(4)
    index = out.view(np.int64)
    index[:] = [9, 0, 7, 2]
    assert vm.packv(A, index, out=out).tolist() == [9.0, 0.0, 7.0, 2.0]
    target = np.zeros(10)
    positions = target[:3].view(np.int64)
    positions[:] = [8, 9, 1]
    vm.unpackv(np.array([1.0, 2.0, 3.0]), positions, target)
    assert target[[8, 9, 1]].tolist() == [1.0, 2.0, 3.0]


@pytest.mark.parametrize("index", [
    np.array([2**63 + 1], np.uint64), np.array([2**32], np.int64), np.array([-2**40]),
    np.array([3, -1], np.int8), np.array([0, 2**63 - 1], np.int64),
])
def test_positions_that_do_not_fit_are_refused_before_narrowing(index):
    with pytest.raises(ValueError, match="positions outside a"):
        vm.packv(A, index)


def test_calls_and_refusals_keep_no_references():
    import sys
    a, index, mask = np.arange(8.0), np.array([3, 1]), np.array([1, 0] * 4)
    out = np.empty(2, np.float32)
    before = [sys.getrefcount(x) for x in (a, index, mask, out)]
    for _ in range(200):
        vm.packv(a, index)
        vm.packm(a, mask)
        vm.unpackv(a[:2], index, np.empty(8))
        with pytest.raises(TypeError):
            vm.packv(a, index, out=out)  # the wrong dtype
        with pytest.raises(ValueError):
            vm.packv(a, [9])
    after = [sys.getrefcount(x) for x in (a, index, mask, out)]
    assert after == before
