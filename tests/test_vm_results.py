"""Every vm function and loop gives exactly what the same runtime function gives
through lib, on the same inputs."""

import numpy as np
import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue.vm_interface import vm_functions

HIGH_ACCURACY = 0x2
N = 9

MATH_LOOPS = [pytest.param(f, loop, id=f"{f.name}-{loop.letter}")
              for f in vm_functions() if not f.is_pack for loop in f.loops]
PACK_LOOPS = [pytest.param(f, loop, id=f"{f.name}-{loop.letter}")
              for f in vm_functions() if f.is_pack for loop in f.loops]


def inputs(dtype, count, shift=0.0):
    """Values from 1/8 to 13/8, inside most domains; complex ones off the real axis."""
    reals = 0.125 + shift + 1.5 * np.arange(N) / N
    values = reals + 1j * (0.5 - reals / 2) if np.dtype(dtype).kind == "c" else reals
    return [np.asarray(values + 0.0625 * k, dtype=dtype) for k in range(count)]


def scalar(dtype, position):
    return complex(2.0 - position / 4, 0.5) if np.dtype(dtype).kind == "c" else 2.0 - position / 4


def pointer(ffi, array):
    c_type = {"float32": "float", "float64": "double", "complex64": "MKL_Complex8",
              "complex128": "MKL_Complex16", "int32": "int"}[array.dtype.name]
    return ffi.from_buffer(c_type + "[]", array)


def by_lib(ffi, lib, function, loop, arrays, scalars, mode):
    outputs = [np.zeros(N, dtype=loop.output_dtype) for _ in range(function.outputs)]
    name = loop.mode_runtime_name if mode is not None else loop.runtime_name
    values = [scalar if np.dtype(loop.input_dtype).kind != "c" else
              ffi.new(("MKL_Complex8" if loop.letter == "c" else "MKL_Complex16") + " *",
                      (scalar.real, scalar.imag))[0] for scalar in scalars]
    getattr(lib, name)(N, *[pointer(ffi, a) for a in arrays], *values,
                       *[pointer(ffi, r) for r in outputs], *([mode] if mode is not None else []))
    return outputs


@pytest.mark.parametrize("mode", [None, HIGH_ACCURACY], ids=["plain", "m-form"])
@pytest.mark.parametrize("function, loop", MATH_LOOPS)
def test_math_functions_match_lib(ffi, lib, function, loop, mode):
    arrays = inputs(loop.input_dtype, sum(p.kind == "array" for p in function.positional))
    scalars = [scalar(loop.input_dtype, k) for k, p in enumerate(function.positional)
               if p.kind.endswith("scalar")]
    with vm.errstate(all="ignore"):
        result = getattr(vm, function.name)(*arrays, *scalars, mode=mode)
    results = result if function.outputs == 2 else (result,)
    expected = by_lib(ffi, lib, function, loop, arrays, scalars, mode)
    for got, want in zip(results, expected):
        assert got.dtype == want.dtype
        assert got.tobytes() == want.tobytes()


def pack_arguments(base, n):
    """vm's arguments besides `a`, and lib's in the runtime's order (count first)."""
    index = np.array([5, 0, 3, 3, 8], dtype=np.int32)
    mask = (np.arange(n) % 3 != 1).astype(np.int32)
    return {
        "PackI": ((2, 4), lambda p, a, y: (4, a, 2, y)),
        "PackV": ((index,), lambda p, a, y: (index.size, a, p(index), y)),
        "PackM": ((mask,), lambda p, a, y: (n, a, p(mask), y)),
        "UnpackI": ((3,), lambda p, a, y: (3, a, y, 3)),
        "UnpackV": ((index[:4] * 3,), lambda p, a, y: (4, a, y, p(index[:4] * 3))),
        "UnpackM": ((mask,), lambda p, a, y: (n, a, y, p(mask))),
    }[base]


@pytest.mark.parametrize("function, loop", PACK_LOOPS)
def test_pack_and_unpack_match_lib(ffi, lib, function, loop):
    (a,) = inputs(loop.input_dtype, 1)
    extra, lib_arguments = pack_arguments(function.base, N)
    unpack = function.base.startswith("Unpack")
    if function.base == "UnpackI":
        a = a[:3]
    elif function.base == "UnpackV":
        a = a[:4]
    elif function.base == "UnpackM":
        a = a[:int(extra[0].sum())]
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
