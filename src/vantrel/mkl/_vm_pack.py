"""Gather and scatter by increment, index array or mask, through lib's runtime functions.

The runtime reads and writes wherever its increment, indexes and mask point: every
position is checked against the arrays here before it is called. Counts and indexes
are 32-bit in the runtime; longer arrays go in strips, and indexes past 2**31 - 1 are
refused.
"""

from __future__ import annotations

import operator

import numpy as np

from . import _dispatch
from ._catalogue.functions import PRECISIONS
from ._catalogue.vm_interface import vm_functions
from .tessivec import ffi, lib

_FUNCTIONS = {f.base: f for f in vm_functions() if f.is_pack}
_LARGEST_INT = 2**31 - 1
# The C element type of each array the runtime is given.
_C_TYPES = {p.numpy_dtype: p.element.spelling for p in PRECISIONS.values()} | {"int32": "int"}


def _loop(function, a):
    """The array as a flat, contiguous array of the first loop's dtype it casts to safely."""
    a = np.asarray(a)
    for loop in function.loops:
        if np.can_cast(a.dtype, loop.input_dtype, "safe"):
            return np.ascontiguousarray(a, dtype=loop.input_dtype).reshape(-1), loop
    offered = ", ".join(loop.input_dtype for loop in function.loops)
    raise TypeError(f"vm.{function.name} does not support dtype {a.dtype}; it takes {offered}")


def _pointer(array):
    return ffi.from_buffer(_C_TYPES[array.dtype.name] + "[]", array)


def _integer(function, name: str, value, least: int) -> int:
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"vm.{function.name}: {name} must be an integer, "
                        f"not {type(value).__name__}") from None
    if not least <= value <= _LARGEST_INT:
        raise ValueError(f"vm.{function.name}: {name} must be from {least} to 2**31 - 1, "
                         f"not {value}")
    return value


def _indexes(function, index, bound: int, bound_name: str):
    """Positions as 32-bit ints, each within an array of `bound` elements."""
    index = np.asarray(index)
    if index.size and index.dtype.kind not in "iu":
        raise TypeError(f"vm.{function.name}: index must hold integers, not {index.dtype}")
    flat = index.reshape(-1)
    if flat.size and (flat.min() < 0 or flat.max() >= bound):
        raise ValueError(f"vm.{function.name}: index holds positions outside {bound_name}, "
                         f"which has {bound} elements")
    if flat.size and flat.max() > _LARGEST_INT:
        raise ValueError(f"vm.{function.name}: index holds positions past 2**31 - 1, "
                         "which the runtime's 32-bit indexes cannot reach")
    return np.ascontiguousarray(flat, dtype=np.int32)


def _mask(function, mask, size: int, size_name: str):
    """The mask as 32-bit ints, 1 where it is non-zero, of `size` elements."""
    mask = np.asarray(mask)
    if mask.dtype.kind not in "biu":
        raise TypeError(f"vm.{function.name}: mask must hold booleans or integers, "
                        f"not {mask.dtype}")
    if mask.size != size:
        raise ValueError(f"vm.{function.name}: mask has {mask.size} elements, "
                         f"{size_name} has {size}")
    return (mask.reshape(-1) != 0).astype(np.int32)


def _output(function, out, loop, shape):
    """A new result array, or `out` checked: an ndarray of the loop's dtype, writable
    and C-contiguous, of `shape` (any shape when `shape` is None)."""
    if out is None:
        return np.empty(shape, dtype=loop.output_dtype)
    if not isinstance(out, np.ndarray):
        raise TypeError(f"vm.{function.name}: out must be a numpy.ndarray, "
                        f"not {type(out).__name__}")
    if out.dtype != np.dtype(loop.output_dtype):
        raise TypeError(f"vm.{function.name}: out has dtype {out.dtype}, "
                        f"the result's dtype is {loop.output_dtype}")
    if shape is not None and out.shape != shape:
        raise ValueError(f"vm.{function.name}: out has shape {out.shape}, "
                         f"the result's shape is {shape}")
    if not out.flags.writeable:
        raise ValueError(f"vm.{function.name}: out is read-only")
    if not out.flags.c_contiguous or not out.flags.aligned:
        raise ValueError(f"vm.{function.name}: out is not C-contiguous and aligned")
    return out


def _apart_from(out, *arrays):
    """The arrays, copied where they may share memory with `out`."""
    return [a.copy() if np.may_share_memory(a, out) else a for a in arrays]


def _strips(count: int):
    limit = _dispatch.strip_limit()
    for start in range(0, count, limit):
        yield start, min(limit, count - start)


def packi(a, incr, n, /, *, out=None):
    function = _FUNCTIONS["PackI"]
    a, loop = _loop(function, a)
    incr = _integer(function, "incr", incr, 1)
    n = _integer(function, "n", n, 0)
    if n and (n - 1) * incr >= a.size:
        raise ValueError(f"vm.packi: a has {a.size} elements; n={n} at increment {incr} "
                         f"reads {(n - 1) * incr + 1}")
    out = _output(function, out, loop, (n,))
    (a,) = _apart_from(out, a)
    runtime, source, target = getattr(lib, loop.runtime_name), _pointer(a), _pointer(out)
    for start, count in _strips(n):
        runtime(count, source + start * incr, incr, target + start)
    return out


def packv(a, index, /, *, out=None):
    function = _FUNCTIONS["PackV"]
    a, loop = _loop(function, a)
    index = _indexes(function, index, a.size, "a")
    out = _output(function, out, loop, (index.size,))
    a, index = _apart_from(out, a, index)
    runtime, source, target = getattr(lib, loop.runtime_name), _pointer(a), _pointer(out)
    positions = _pointer(index)
    for start, count in _strips(index.size):
        runtime(count, source, positions + start, target + start)
    return out


def packm(a, mask, /, *, out=None):
    function = _FUNCTIONS["PackM"]
    a, loop = _loop(function, a)
    mask = _mask(function, mask, a.size, "a")
    out = _output(function, out, loop, (int(np.count_nonzero(mask)),))
    (a,) = _apart_from(out, a)
    runtime, source, target = getattr(lib, loop.runtime_name), _pointer(a), _pointer(out)
    selected, written = _pointer(mask), 0
    for start, count in _strips(a.size):
        runtime(count, source + start, selected + start, target + written)
        written += int(np.count_nonzero(mask[start:start + count]))
    return out


def unpacki(a, incr, out, /):
    function = _FUNCTIONS["UnpackI"]
    a, loop = _loop(function, a)
    incr = _integer(function, "incr", incr, 1)
    out = _output(function, out, loop, None)
    if a.size and (a.size - 1) * incr >= out.size:
        raise ValueError(f"vm.unpacki: out has {out.size} elements; a's {a.size} at "
                         f"increment {incr} reach {(a.size - 1) * incr + 1}")
    (a,) = _apart_from(out, a)
    runtime, source, target = getattr(lib, loop.runtime_name), _pointer(a), _pointer(out)
    for start, count in _strips(a.size):
        runtime(count, source + start, target + start * incr, incr)
    return out


def unpackv(a, index, out, /):
    function = _FUNCTIONS["UnpackV"]
    a, loop = _loop(function, a)
    out = _output(function, out, loop, None)
    index = _indexes(function, index, out.size, "out")
    if index.size != a.size:
        raise ValueError(f"vm.unpackv: index has {index.size} elements, a has {a.size}")
    a, index = _apart_from(out, a, index)
    runtime, source, target = getattr(lib, loop.runtime_name), _pointer(a), _pointer(out)
    positions = _pointer(index)
    for start, count in _strips(a.size):
        runtime(count, source + start, target, positions + start)
    return out


def unpackm(a, mask, out, /):
    function = _FUNCTIONS["UnpackM"]
    a, loop = _loop(function, a)
    out = _output(function, out, loop, None)
    mask = _mask(function, mask, out.size, "out")
    selected_count = int(np.count_nonzero(mask))
    if a.size != selected_count:
        raise ValueError(f"vm.unpackm: a has {a.size} elements, mask selects {selected_count}")
    (a,) = _apart_from(out, a)
    runtime, source, target = getattr(lib, loop.runtime_name), _pointer(a), _pointer(out)
    selected, read = _pointer(mask), 0
    for start, count in _strips(out.size):
        runtime(count, source + read, target + start, selected + start)
        read += int(np.count_nonzero(mask[start:start + count]))
    return out
