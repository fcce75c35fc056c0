"""How vm picks a loop and takes arrays: dtypes, shapes, layouts, out, strips."""

import sys
import threading
import time

import numpy as np
import pytest
from vantrel.mkl import _dispatch, vm

X = np.linspace(0.25, 1.75, 12)


@pytest.fixture
def short_strips():
    previous = _dispatch.set_strip_limit(5)
    yield
    _dispatch.set_strip_limit(previous)


@pytest.mark.parametrize("given, used", [
    ("float32", "float32"), ("float64", "float64"), ("complex64", "complex64"),
    ("complex128", "complex128"),
    # Integers and booleans cast to the first precision that holds them exactly.
    ("bool", "float32"), ("int8", "float32"), ("uint8", "float32"), ("int16", "float32"),
    ("uint16", "float32"), ("int32", "float64"), ("uint32", "float64"), ("int64", "float64"),
    ("uint64", "float64"), ("float16", "float32"),
])
def test_the_input_dtype_picks_the_precision(given, used):
    a = np.arange(1, 5).astype(given)
    result = vm.exp(a)
    assert result.dtype == used
    assert result.tobytes() == vm.exp(a.astype(used)).tobytes()


@pytest.mark.parametrize("a, b, used", [
    (np.float32(1), np.ones(3, np.float64), "float64"),
    (np.ones(3, np.float32), np.ones(3, np.int8), "float32"),
    (np.ones(3, np.float32), np.ones(3, np.int32), "float64"),
    (np.ones(3, np.float32), 2.0, "float32"),  # a Python float takes part by its kind
    (np.ones(3, np.float32), np.float64(2.0), "float64"),  # a NumPy scalar by its dtype
    (np.ones(3, np.int8), 2.0, "float64"),
    (np.ones(3, np.float32), 2j, "complex64"),
    (np.ones(3, np.float64), 2j, "complex128"),
    (np.ones(3, bool), 1, "float64"),
    ([1, 2, 3], [4.0, 5.0, 6.0], "float64"),
    (2, 3.0, "float64"),
])
def test_mixed_inputs_promote_as_numpy_promotes(a, b, used):
    assert vm.add(a, b).dtype == used
    assert np.result_type(np.add(a, b), np.float32) == used


@pytest.mark.parametrize("call, used", [
    (lambda: vm.powx(np.ones(3, np.float32), 2), "float32"),
    (lambda: vm.powx(np.ones(3, np.float32), 2j), "complex64"),
    (lambda: vm.powx(np.ones(3, np.float32), np.complex128(2j)), "complex128"),
    (lambda: vm.linearfrac(np.ones(3, np.float32), np.ones(3, np.float32), 1, 2, 3, 4), "float32"),
    (lambda: vm.abs(np.ones(3, np.complex64)), "float32"),
    (lambda: vm.arg(np.ones(3, np.complex128)), "float64"),
    (lambda: vm.arg(np.ones(3, np.float64)), "float64"),  # through the complex128 loop
    (lambda: vm.cis(np.ones(3, np.float32)), "complex64"),
    (lambda: vm.cis(np.ones(3, np.int64)), "complex128"),
    (lambda: vm.conj(np.ones(3, np.float32)), "complex64"),
])
def test_scalars_and_mixed_precision_families(call, used):
    assert call().dtype == used


@pytest.mark.parametrize("call, dtype", [
    (lambda: vm.atan2(np.ones(2, np.complex128), np.ones(2)), "complex128"),
    (lambda: vm.erfinv(np.ones(2, np.complex64)), "complex64"),
    (lambda: vm.cis(np.ones(2, np.complex64)), "complex64"),
    (lambda: vm.linearfrac(np.ones(2), np.ones(2), 1j, 0, 1, 0), "complex128"),
    (lambda: vm.exp(np.array(["a"])), "<U1"),
    (lambda: vm.exp(np.ones(2, np.longdouble)), "float128"),
    (lambda: vm.sqrt(np.array([None])), "object"),
    (lambda: vm.packv(np.ones(2, np.int64).astype(object), [0]), "object"),
])
def test_a_dtype_without_a_loop_is_a_type_error_naming_function_and_dtype(call, dtype):
    with pytest.raises(TypeError, match=rf"vm\.\w+ does not support dtype {dtype}"):
        call()


@pytest.mark.parametrize("a", [
    X.reshape(3, 4), X.reshape(3, 4).T, X[::2], np.asfortranarray(X.reshape(3, 4)),
    X.astype(">f8"), np.broadcast_to(X[:4], (3, 4)),
    np.frombuffer(b"\0" + X.tobytes(), dtype=np.float64, offset=1),  # unaligned
])
def test_any_shape_and_layout(a):
    result = vm.sqrt(a)
    assert result.shape == a.shape
    assert result.tobytes() == vm.sqrt(np.ascontiguousarray(a, np.float64)).tobytes()
    assert np.allclose(result, np.sqrt(a))


def test_inputs_broadcast():
    a, b = X[:3].reshape(3, 1), X[:4]
    assert np.array_equal(vm.add(a, b), a + b)
    assert np.array_equal(vm.hypot(a, 2.0), np.hypot(a, 2.0))
    with pytest.raises(ValueError, match=r"vm.add: argument 'b' of shape \(5,\) does not broad"):
        vm.add(X[:4], X[:5])
    with pytest.raises(ValueError, match="argument 'b'"):
        vm.linearfrac(X[:4], X[:3], 1, 0, 1, 0)


def test_zero_dimensional_results_are_scalars_and_empty_arrays_call_nothing(lib):
    assert isinstance(vm.exp(0.0), np.float64) and vm.exp(0.0) == 1.0
    assert isinstance(vm.exp(np.array(0.0, np.float32)), np.float32)
    out = np.empty(())
    assert vm.exp(0.0, out=out) is out
    lib.vmlSetErrStatus(3)
    try:
        assert vm.exp(np.empty((0, 3))).shape == (0, 3)
    finally:
        assert lib.vmlClearErrStatus() == 3


def test_out_receives_the_result_and_is_returned():
    out = np.empty(12)
    assert vm.exp(X, out=out) is out
    assert np.array_equal(out, vm.exp(X))
    assert vm.exp(X, out=(out,)) is out
    first, second = np.empty(12), np.empty(12)
    assert vm.sincos(X, out=(first, second)) == (first, second)
    fresh_sin, cos = vm.sincos(X, out=(None, second))
    assert np.array_equal(fresh_sin, first) and cos is second


@pytest.mark.parametrize("out, error, message", [
    ([0.0] * 12, TypeError, "out must be a numpy.ndarray, not list"),
    (np.empty(12, np.float32), TypeError, "out has dtype float32, the result's dtype is float64"),
    (np.empty(12, ">f8"), TypeError, "out has dtype >f8"),
    (np.empty(13), ValueError, r"out has shape \(13,\), the result's shape is \(12,\)"),
    (np.empty((12, 1)), ValueError, "out has shape"),
    (np.empty(24)[::2], ValueError, "out is not C-contiguous"),
    (np.frombuffer(bytes(96)), ValueError, "out is read-only"),
    ((np.empty(12), np.empty(12)), TypeError, "out must be an array or a tuple of one array"),
])
def test_out_is_checked_before_the_runtime_is_called(out, error, message):
    with pytest.raises(error, match=f"vm.exp: {message}"):
        vm.exp(X, out=out)


def test_two_output_out_is_checked_per_array():
    with pytest.raises(TypeError, match="vm.modf: out must be a tuple of two arrays"):
        vm.modf(X, out=np.empty(12))
    with pytest.raises(TypeError, match=r"vm.modf: out\[1\] has dtype float32"):
        vm.modf(X, out=(np.empty(12), np.empty(12, np.float32)))


def test_outputs_overlapping_inputs_read_the_inputs_first():
    x = X.copy()
    assert vm.exp(x, out=x) is x and np.array_equal(x, vm.exp(X))  # in place
    x = X.copy()
    vm.exp(x[:-1], out=x[1:])  # shifted by one element
    assert np.array_equal(x[1:], vm.exp(X[:-1]))
    z = X + 1j * X
    expected = vm.abs(z.copy())
    vm.abs(z, out=z.view(np.float64)[:12])  # the real output over the complex input
    assert np.array_equal(z.view(np.float64)[:12], expected)


def test_strips_cover_the_whole_array(short_strips):
    a, b = np.linspace(-3, 3, 23), np.linspace(1, 2, 23)
    assert _dispatch.strip_limit() == 5
    with vm.errstate(all="ignore"):
        stripped = [vm.exp(a), vm.add(a, b), *vm.sincos(a), vm.powx(b, 1.5), vm.ln(a)]
    _dispatch.set_strip_limit(2**31 - 1)
    with vm.errstate(all="ignore"):
        whole = [vm.exp(a), vm.add(a, b), *vm.sincos(a), vm.powx(b, 1.5), vm.ln(a)]
    for got, want in zip(stripped, whole):
        assert got.tobytes() == want.tobytes()


def test_a_condition_in_any_strip_is_reported(short_strips):
    a = np.ones(23)
    a[-1] = -1.0  # only the last strip meets the domain error
    with vm.errstate(domain="raise"), pytest.raises(FloatingPointError, match="domain error"):
        vm.ln(a)


@pytest.mark.parametrize("call, error, message", [
    (lambda: vm.exp(), TypeError, r"vm.exp\(\) takes 1 positional argument \(0 given\)"),
    (lambda: vm.add(X), TypeError, r"vm.add\(\) takes 2 positional arguments \(1 given\)"),
    (lambda: vm.exp(X, where=True), TypeError, "unexpected keyword argument 'where'"),
    (lambda: vm.exp(X, mode=1.5), TypeError, "mode must be an integer, not float"),
    (lambda: vm.exp(X, mode=-1), ValueError, "mode must be from 0 to 0xFFFFFFFF"),
    (lambda: vm.exp(X, mode=2**32), ValueError, "mode must be from 0 to 0xFFFFFFFF"),
    (lambda: vm.powx(X, X), TypeError, "argument 'b' must be a scalar"),
    (lambda: vm.linearfrac(X, X, 1, 0, "s", 0), TypeError, "does not support dtype <U32"),
    (lambda: vm.add(X, np.array(["2020-01-01"], "datetime64[D]")), TypeError,
     r"vm.add does not support dtypes \(dtype\('float64'\), dtype\('<M8\[D\]'\)\) together"),
])
def test_argument_errors(call, error, message):
    with pytest.raises(error, match=message):
        call()


MODE_CALLS = """
import json
import numpy as np
from recording import Recorder
from vantrel.mkl import vm

recorder = Recorder()
x = np.linspace(0.1, 10, 8)
report = {}
for label, call in [("with_mode", lambda: vm.sin(x, mode=vm.EP)), ("plain", lambda: vm.sin(x))]:
    _, error, calls = recorder.record(call)
    report[label] = {"error": repr(error) if error else None,
                     "calls": [[c.symbol, [a.values for a in c.arguments]] for c in calls]}
print(json.dumps(report))
"""


def test_mode_calls_the_m_form_for_one_call_only(ffi, lib, recorder_library):
    # Which runtime function receives which mode, seen by the recording runtime: on
    # some processors the runtime's accuracy modes give the same bits.
    from recording import run_recorded
    report = run_recorded(recorder_library, "-c", MODE_CALLS)
    math_calls = {label: [(symbol, arguments) for symbol, arguments in case["calls"]
                          if symbol.startswith("v") and not symbol.startswith("vml")]
                  for label, case in report.items()}
    assert all(case["error"] is None for case in report.values())
    [(symbol, arguments)] = math_calls["with_mode"]
    assert symbol == "vmdSin"
    assert arguments[-1][0] & vm.ACCURACY_MASK == vm.EP
    assert [symbol for symbol, _ in math_calls["plain"]] == ["vdSin"]
    set_modes = [arguments[0][0] for symbol, arguments in report["plain"]["calls"]
                 if symbol == "vmlSetMode"]
    assert all(mode & vm.ACCURACY_MASK != vm.EP for mode in set_modes)

    # And through the real runtime: the m form's own result, the thread's mode kept.
    before = vm.get_mode()
    x = np.linspace(0.1, 10, 1000)
    expected = np.empty_like(x)
    lib.vmdSin(x.size, ffi.from_buffer("double[]", x), ffi.from_buffer("double[]", expected),
               vm.EP)
    assert vm.sin(x, mode=vm.EP).tobytes() == expected.tobytes()
    assert vm.get_mode() == before


def test_the_interpreter_lock_is_released_during_the_runtime_call():
    # With a long switch interval, the other thread runs only while this one has let
    # the lock go: during the runtime call, if the call releases it.
    counter, started, stop = [0], threading.Event(), threading.Event()

    def count():
        started.set()
        while not stop.is_set():
            counter[0] += 1
            time.sleep(0)

    x = np.linspace(0.0, 1.0, 10**6)
    interval = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    thread = threading.Thread(target=count)
    try:
        thread.start()
        started.wait()
        ran_during_a_call = False
        for _ in range(50):
            before = counter[0]
            vm.exp(x)
            if counter[0] != before:
                ran_during_a_call = True
                break
    finally:
        stop.set()
        sys.setswitchinterval(interval)
        thread.join()
    assert ran_during_a_call
