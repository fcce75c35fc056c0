"""Every vm ufunc and loop gives exactly what the same runtime function gives through
lib (or, where lib does not offer it, through an ABI-mode binding), on the same inputs,
in every accuracy; and so do other layouts of the same values."""

import numpy as np
import pytest
from vantrel.mkl import _dispatch, vm
from vantrel.mkl._catalogue.vm_interface import vm_functions

from runtime_abi import for_operation

ACCURACIES = {"thread": None, "la": vm.LA, "ha": vm.HA, "ep": vm.EP}
N = 9

OPERATIONS = {f.name: f for f in vm_functions() if not f.is_pack}
MATH_LOOPS = [pytest.param(f, loop, id=f"{f.name}-{loop.letter}")
              for f in OPERATIONS.values() for loop in f.loops]
PACK_LOOPS = [pytest.param(f, loop, id=f"{f.name}-{loop.letter}")
              for f in vm_functions() if f.is_pack for loop in f.loops]


def inputs(dtype, count, n=N):
    """Values from 1/8 to 13/8, inside most domains; complex ones off the real axis."""
    reals = 0.125 + 1.5 * np.arange(n) / n
    values = reals + 1j * (0.5 - reals / 2) if np.dtype(dtype).kind == "c" else reals
    return [np.asarray(values + 0.0625 * k, dtype=dtype) for k in range(count)]


def scalar(dtype, position):
    return complex(2.0 - position / 4, 0.5) if np.dtype(dtype).kind == "c" else 2.0 - position / 4


def pointer(ffi, array):
    c_type = {"float32": "float", "float64": "double", "complex64": "MKL_Complex8",
              "complex128": "MKL_Complex16", "int32": "int"}[array.dtype.name]
    return ffi.from_buffer(c_type + "[]", array)


def operands(function, loop, n=N):
    arrays = inputs(loop.input_dtype, sum(p.role.array for p in function.positional), n)
    scalars = [scalar(loop.input_dtype, k) for k, p in enumerate(function.positional)
               if not p.role.array]
    return arrays, scalars


def by_lib(ffi, lib, function, loop, arrays, scalars, accuracy):
    n = arrays[0].size
    outputs = [np.zeros(n, dtype=loop.output_dtype) for _ in range(function.outputs)]
    values = [scalar if np.dtype(loop.input_dtype).kind != "c" else
              ffi.new(("MKL_Complex8" if loop.letter == "c" else "MKL_Complex16") + " *",
                      (scalar.real, scalar.imag))[0] for scalar in scalars]
    getattr(lib, loop.mode_runtime_name)(n, *[pointer(ffi, a) for a in arrays], *values,
                                         *[pointer(ffi, r) for r in outputs], accuracy)
    return outputs


def ufunc_of(name, accuracy="thread"):
    return getattr(vm, name) if accuracy == "thread" else getattr(getattr(vm, accuracy), name)


@pytest.mark.parametrize("accuracy", ACCURACIES)
@pytest.mark.parametrize("function, loop", MATH_LOOPS)
def test_every_loop_matches_lib_bit_for_bit(ffi, lib, function, loop, accuracy):
    arrays, scalars = operands(function, loop)
    with np.errstate(all="ignore"):
        result = ufunc_of(function.name, accuracy)(*arrays, *scalars)
    results = result if function.outputs == 2 else (result,)
    expected = by_lib(*for_operation(function.operation, ffi, lib), function, loop, arrays,
                      scalars, ACCURACIES[accuracy] or vm.HA)  # the thread's mode is HA
    order = function.operation.output_order  # NumPy's order of the runtime's results
    if order is not None:
        expected = [expected[k] for k in order]
    for got, want in zip(results, expected):
        assert got.dtype == want.dtype
        assert got.tobytes() == want.tobytes()


# One operation of each family, in a real and (where it has one) a complex precision.
REPRESENTATIVES = ["exp", "hypot", "powx", "linearfrac", "sincos", "abs", "cis", "add"]
LAYOUT_CASES = [pytest.param(OPERATIONS[name], loop, id=f"{name}-{loop.letter}")
                for name in REPRESENTATIVES for loop in OPERATIONS[name].loops
                if loop.letter in "dz"]


def results_of(function, *arguments, **keywords):
    with np.errstate(all="ignore"):
        result = getattr(vm, function.name)(*arguments, **keywords)
    return result if function.outputs == 2 else (result,)


def same(got, want):
    assert len(got) == len(want)
    for g, w in zip(got, want):
        assert g.dtype == w.dtype and g.shape == w.shape
        assert np.ascontiguousarray(g).tobytes() == np.ascontiguousarray(w).tobytes()


@pytest.mark.parametrize("function, loop", LAYOUT_CASES)
def test_other_layouts_give_the_same_bits(function, loop):
    n = 24
    arrays, scalars = operands(function, loop, n)
    contiguous = results_of(function, *arrays, *scalars)
    # Strided inputs, and inputs read backwards.
    spread = [np.repeat(a, 2)[::2] for a in arrays]
    same(results_of(function, *spread, *scalars), contiguous)
    backwards = [a[::-1].copy()[::-1] for a in arrays]
    same(results_of(function, *backwards, *scalars), contiguous)
    # Strided outputs.
    outs = tuple(np.zeros(2 * n, r.dtype)[::2] for r in contiguous)
    got = results_of(function, *arrays, *scalars, out=outs)
    same(got, contiguous)
    # Two dimensions, transposed.
    grid = [a.reshape(4, 6).T for a in arrays]
    same(results_of(function, *grid, *scalars), [r.reshape(4, 6).T for r in contiguous])
    # where=: the selected elements as computed everywhere, the others untouched.
    where = np.arange(n) % 3 != 0
    outs = tuple(np.full(n, 7, r.dtype) for r in contiguous)
    got = results_of(function, *arrays, *scalars, out=outs, where=where)
    for g, w in zip(got, contiguous):
        assert g[where].tobytes() == w[where].tobytes() and np.all(g[~where] == 7)
    # A broadcast first input: every element the same value, never materialised.
    first = [np.broadcast_to(arrays[0][3], (n,))] + arrays[1:]
    repeated = [np.full(n, arrays[0][3])] + arrays[1:]
    same(results_of(function, *first, *scalars), results_of(function, *repeated, *scalars))


@pytest.mark.parametrize("function, loop", LAYOUT_CASES)
def test_runs_of_any_length_cover_every_element(function, loop):
    n = 2 * 2**16 + 7  # more than the buffer of strided operands holds
    arrays, scalars = operands(function, loop, n)
    contiguous = results_of(function, *arrays, *scalars)
    same(results_of(function, *[np.repeat(a, 3)[1::3] for a in arrays], *scalars), contiguous)
    previous = _dispatch.set_run_limit(1000)
    try:
        assert _dispatch.run_limit() == 1000
        same(results_of(function, *arrays, *scalars), contiguous)
    finally:
        _dispatch.set_run_limit(previous)


@pytest.mark.parametrize("dtype", ["float32", "float64", "complex64", "complex128"])
def test_scalar_inputs_that_vary_give_what_each_constant_gives(dtype):
    x = inputs(dtype, 1, 12)[0]
    b = np.array([2, 2, 2, 3, 3, 0.5, 0.5, 2, 1, 1, 1, 3], dtype=dtype)
    got = vm.powx(x, b)
    want = np.concatenate([vm.powx(x[i:i + 1], b[i]) for i in range(x.size)])
    assert got.tobytes() == want.tobytes()
    if dtype.startswith("float"):
        scales = np.array([1, 1, 2, 2, 2, 3, 1, 1, 4, 4, 4, 4], dtype=dtype)
        got = vm.linearfrac(x, x + 1, scales, 0.5, 1.0, scales)
        want = np.concatenate([vm.linearfrac(x[i:i + 1], x[i:i + 1] + 1, scales[i], 0.5, 1.0,
                                             scales[i]) for i in range(x.size)])
        assert got.tobytes() == want.tobytes()


@pytest.mark.parametrize("function, loop", PACK_LOOPS)
def test_pack_and_unpack_match_lib(ffi, lib, function, loop):
    (a,) = inputs(loop.input_dtype, 1)
    index = np.array([5, 0, 3, 3, 8], dtype=np.int32)
    mask = (np.arange(N) % 3 != 1).astype(np.int32)
    extra, lib_arguments = {
        "PackI": ((2, 4), lambda p, a, y: (4, a, 2, y)),
        "PackV": ((index,), lambda p, a, y: (index.size, a, p(index), y)),
        "PackM": ((mask,), lambda p, a, y: (N, a, p(mask), y)),
        "UnpackI": ((3,), lambda p, a, y: (3, a, y, 3)),
        "UnpackV": ((index[:4] * 3,), lambda p, a, y: (4, a, y, p(index[:4] * 3))),
        "UnpackM": ((mask,), lambda p, a, y: (N, a, y, p(mask))),
    }[function.base]
    unpack = function.base.startswith("Unpack")
    a = {"UnpackI": a[:3], "UnpackV": a[:4], "UnpackM": a[:int(mask.sum())]}.get(function.base, a)
    size = 3 * N if unpack and function.base != "UnpackM" else N
    got = np.zeros(size, dtype=loop.output_dtype)
    want = np.zeros(size, dtype=loop.output_dtype)
    call = getattr(vm, function.name)
    result = call(a, *extra, got) if unpack else call(a, *extra)
    getattr(lib, loop.runtime_name)(
        *lib_arguments(lambda x: pointer(ffi, x), pointer(ffi, a), pointer(ffi, want)))
    if not unpack:
        want = want[:result.size]
    else:
        assert result is got
    assert result.tobytes() == want.tobytes()
