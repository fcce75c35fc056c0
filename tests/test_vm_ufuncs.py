"""vm's operations are NumPy ufuncs: NumPy's dtype rules, keywords and methods hold for
them, and their loops stay correct for whatever operands NumPy hands over."""

import sys
import threading
import time

import numpy as np
import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue.roles import SCALAR
from vantrel.mkl._catalogue.vm_interface import vm_functions

from arguments import Arguments
from conftest import BY_NAME

X = np.linspace(0.25, 1.75, 12)
OPERATIONS = [f for f in vm_functions() if not f.is_pack]
# Each real scalar a ufunc of lib's functions takes, in each real loop.
REAL_SCALARS = [pytest.param(f, loop, p.name, id=f"{f.name}-{loop.letter}-{p.name}")
                for f in OPERATIONS if f.operation.in_lib
                for loop in f.loops if loop.letter in ("s", "d")
                for p in f.positional if p.role is SCALAR]


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


@pytest.mark.parametrize("a, b", [
    (np.float32(1), np.ones(3, np.float64)),
    (np.ones(3, np.float32), np.ones(3, np.int8)),
    (np.ones(3, np.float32), np.ones(3, np.int32)),
    (np.ones(3, np.float32), 2.0),  # a Python float takes part by its kind
    (np.ones(3, np.float32), np.float64(2.0)),
    (np.ones(3, np.int8), 2.0),
    (np.ones(3, np.float32), 2j),
    (np.ones(3, bool), 1),
    ([1, 2, 3], [4.0, 5.0, 6.0]),
])
def test_mixed_inputs_promote_as_numpy_promotes(a, b):
    assert vm.add(a, b).dtype == np.result_type(np.add(a, b), np.float32)


@pytest.mark.parametrize("call, used", [
    (lambda: vm.powx(np.ones(3, np.float32), 2), "float32"),
    (lambda: vm.powx(np.ones(3, np.float32), 2j), "complex64"),
    (lambda: vm.linearfrac(np.ones(3, np.float32), np.ones(3, np.float32), 1, 2, 3, 4), "float32"),
    (lambda: vm.abs(np.ones(3, np.complex64)), "float32"),
    (lambda: vm.arg(np.ones(3, np.float64)), "float64"),  # through the complex128 loop
    (lambda: vm.cis(np.ones(3, np.int64)), "complex128"),
    (lambda: vm.conj(np.ones(3, np.float32)), "complex64"),
])
def test_scalars_and_mixed_precision_families(call, used):
    assert call().dtype == used


@pytest.mark.parametrize("value", [10**400, -10**400], ids=["10**400", "-10**400"])
@pytest.mark.parametrize("function, loop, scalar", REAL_SCALARS)
def test_an_integer_beyond_the_double_range_overflows_in_vm_as_in_lib(ffi, lib, function,
                                                                       loop, scalar, value):
    x = np.linspace(0.5, 1.0, 3, dtype=loop.input_dtype)
    operands = [value if p.name == scalar else x if p.role.array else 1.0
                for p in function.positional]
    with pytest.raises(OverflowError):
        getattr(vm, function.name)(*operands)
    runtime_function = BY_NAME[loop.runtime_name]
    arguments = list(Arguments(ffi, runtime_function, n=3).values)
    (position,) = [i for i, p in enumerate(runtime_function.params) if p.name == scalar]
    arguments[position] = value
    with pytest.raises(OverflowError):
        getattr(lib, runtime_function.name)(*arguments)


@pytest.mark.parametrize("call", [
    lambda: vm.atan2(np.ones(2, np.complex128), np.ones(2)),
    lambda: vm.erfinv(np.ones(2, np.complex64)),
    lambda: vm.exp(np.array(["a"])),
    lambda: vm.exp(np.ones(2, np.longdouble)),
    lambda: vm.sqrt(np.array([None])),
    lambda: vm.exp(X, mode=vm.EP),  # the accuracy is the thread's, or vm.la/ha/ep's
])
def test_what_no_loop_takes_is_a_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_numpys_keywords():
    out = np.full(12, -1.0)
    where = X > 1
    assert vm.exp(X, out=out, where=where) is out
    assert np.array_equal(out[where], vm.exp(X[where])) and np.all(out[~where] == -1.0)
    assert vm.exp(X, dtype=np.float32).dtype == np.float32
    assert vm.exp(X.astype(np.float32), dtype=np.float64).tobytes() == vm.exp(
        X.astype(np.float32).astype(np.float64)).tobytes()
    narrow = np.empty(12, np.float32)
    vm.exp(X, out=narrow)  # computed in float64, cast into out as casting="same_kind" allows
    assert np.array_equal(narrow, vm.exp(X).astype(np.float32))
    with pytest.raises(TypeError):
        vm.exp(X, out=narrow, casting="safe")
    f = vm.exp(X.reshape(3, 4), order="F")
    assert f.flags.f_contiguous and np.array_equal(f, vm.exp(X.reshape(3, 4)))
    assert vm.exp(X, signature=("d", "d")).dtype == np.float64
    s, c = vm.sincos(X, out=(None, np.empty(12)))
    assert np.array_equal(s, vm.sincos(X)[0])


def test_methods_numpy_defines_for_two_input_ufuncs():
    a = np.arange(1.0, 7.0)
    assert vm.add.reduce(a) == 21.0 and vm.mul.reduce(a) == 720.0
    assert vm.add.reduce([]) == 0.0 and vm.mul.reduce([]) == 1.0 and vm.hypot.reduce([]) == 0.0
    with pytest.raises(ValueError):
        vm.sub.reduce([])  # no identity
    assert np.array_equal(vm.add.accumulate(a), np.add.accumulate(a))
    assert np.array_equal(vm.mul.accumulate(a), np.multiply.accumulate(a))
    assert np.array_equal(vm.add.reduce(a.reshape(2, 3), axis=1), [6.0, 15.0])
    assert vm.add.reduce(a.reshape(2, 3), axis=0, keepdims=True).shape == (1, 3)
    assert vm.add.reduce(a, initial=100.0, where=a > 3) == 115.0
    assert np.array_equal(vm.add.reduceat(a, [0, 2, 5]), np.add.reduceat(a, [0, 2, 5]))
    assert np.array_equal(vm.sub.outer(a[:3], a[:2]), np.subtract.outer(a[:3], a[:2]))
    at, expected = a.copy(), a.copy()
    vm.add.at(at, [0, 0, 3], 10.0)
    np.add.at(expected, [0, 0, 3], 10.0)
    assert np.array_equal(at, expected)
    exps = a.copy()
    vm.exp.at(exps, [1, 1])
    assert exps[1] == vm.exp(vm.exp(a[1]))
    assert np.array_equal(vm.powx.reduce(np.array([2.0, 3.0])), 8.0)


def test_broadcasting_and_zero_dimensional_results():
    a, b = X[:3].reshape(3, 1), X[:4]
    assert np.array_equal(vm.add(a, b), a + b)
    assert np.array_equal(vm.hypot(a, 2.0), vm.hypot(a, np.full((3, 1), 2.0)))
    with pytest.raises(ValueError):
        vm.add(X[:4], X[:5])
    assert isinstance(vm.exp(0.0), np.float64) and vm.exp(0.0) == 1.0
    assert isinstance(vm.exp(np.array(0.0, np.float32)), np.float32)
    assert vm.exp(np.empty((0, 3))).shape == (0, 3)


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
    x = X.copy()
    vm.add(x[::2], x[1::2], out=x[::2])  # in place with strides
    assert np.array_equal(x[::2], X[::2] + X[1::2])


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


def test_a_broadcast_scalar_is_never_materialised():
    # Peak memory in a fresh process: the result, and no copy of the scalar at its size.
    import subprocess
    script = """
import resource, numpy as np
from vantrel.mkl import vm
x = np.ones(2**24)  # 128 MiB
x += 0
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
r = vm.add(x, 1.0)
r2 = vm.hypot(x[::2], 3.0)
print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - base) * 1024 / x.nbytes)
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         check=True, timeout=120)
    growth = float(run.stdout)
    # The two results (1 and 0.5 of x's size), and what the runtime and the bounded
    # buffers take; a scalar copied at the result's size would add 1.5 more.
    assert growth < 1.5 + 0.4
