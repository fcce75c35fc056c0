"""Memory that belongs to another object: read-only memory is never written, memory
released before or while the arguments convert is never touched, and an ffi.gc
wrapper's length is unknown."""

import gc
import math

import numpy as np
import pytest

from arguments import Arguments
from conftest import OFFERED

# One function of each family and spelling, and every position of a written array.
ONE_PER_FAMILY = list({(f.family.name, f.spelling): f for f in OFFERED
                       if any(p.role.written for p in f.params)}.values())


def constant_bytes():
    return b"constant bytes, 32 of them ....."


def read_only_sources(tmp_path, size):
    """Read-only memory of `size` bytes: a bytes constant, a NumPy array, a memmap."""
    array = np.zeros(size, dtype=np.uint8)
    array.flags.writeable = False
    path = tmp_path / "read_only.bin"
    path.write_bytes(bytes(size))
    return {"bytes constant": constant_bytes()[:size] if size <= 32 else bytes(size),
            "read-only array": array,
            "read-only memmap": np.memmap(path, dtype=np.uint8, mode="r", shape=(size,))}


@pytest.mark.parametrize("function", ONE_PER_FAMILY, ids=lambda f: f.name)
def test_read_only_memory_is_refused_where_the_runtime_writes(ffi, lib, tmp_path, function):
    call = getattr(lib, function.name)
    for position, parameter in enumerate(function.params):
        if not parameter.role.written:
            continue
        arguments = Arguments(ffi, function, n=2)
        values = list(arguments.values)
        item = ffi.typeof(values[position]).item.cname
        for source, memory in read_only_sources(tmp_path, 2 * ffi.sizeof(item)).items():
            before = bytes(memory)
            values[position] = ffi.from_buffer(f"{item}[]", memory)
            with pytest.raises(ValueError, match=f"^{function.name}: argument {position + 1} "
                                                 "is read-only memory, but the call writes it$"):
                call(*values)
            assert bytes(memory) == before, source
    assert constant_bytes() == b"constant bytes, 32 of them ....."


def test_read_only_memory_is_fine_to_read(ffi, lib):
    values = np.array([0.0, 1.0])
    values.flags.writeable = False
    out = ffi.new("double[2]")
    lib.vdExp(2, ffi.from_buffer("double[]", values), out)
    assert list(out) == [1.0, math.e]
    with pytest.raises(ValueError, match="argument 3 is read-only"):  # in place
        lib.vdExp(2, ffi.from_buffer("double[]", values), ffi.from_buffer("double[]", values))


@pytest.mark.parametrize("call", [
    lambda ffi, lib, x: lib.vdExp(4, x, x),
    lambda ffi, lib, x: lib.vdExp(5, x, ffi.new("double[5]")),  # refused: too short
    lambda ffi, lib, x: lib.vdExp(4, x, ffi.from_buffer("double[]", bytes(32))),  # read-only
    lambda ffi, lib, x: lib.vdExp(4, ffi.gc(x, lambda cdata: None), ffi.new("double[4]")),
], ids=["called", "too-short", "read-only", "ffi.gc"])
def test_the_call_gives_its_exports_back_on_every_path(ffi, lib, call):
    memory = bytearray(32)
    x = ffi.from_buffer("double[]", memory)
    try:
        call(ffi, lib, x)
    except ValueError:
        pass
    ffi.release(x)
    memory.clear()  # a bytearray with an export left would refuse to resize


class ReleasingIndex:
    """An increment whose conversion releases an array converted before it, and lets its
    exporter free that memory."""

    def __init__(self, ffi, cdata, exporter):
        self.ffi, self.cdata, self.exporter = ffi, cdata, exporter

    def __index__(self):
        self.ffi.release(self.cdata)
        del self.exporter[:]  # a bytearray no longer exported gives its memory back
        return 1

    __int__ = __index__


class ReleasingFloat(ReleasingIndex):
    def __float__(self):
        return float(self.__index__())


def test_memory_released_by_a_later_conversion_is_refused(ffi, lib):
    a = ffi.new("double[]", [1.0, 2.0, 3.0, 4.0])
    written = bytearray(32)
    y = ffi.from_buffer("double[]", written)
    with pytest.raises(ValueError, match="^vdUnpackI: argument 3 was released before the call$"):
        lib.vdUnpackI(4, a, y, ReleasingIndex(ffi, y, written))
    read = bytearray(32)
    x = ffi.from_buffer("double[]", read)
    out = ffi.new("double[4]")
    with pytest.raises(ValueError, match="^vdPowx: argument 2 was released before the call$"):
        lib.vdPowx(4, x, ReleasingFloat(ffi, x, read), out)
    assert list(out) == [0.0] * 4 and len(written) == len(read) == 0


def test_memory_released_before_the_call_is_refused(ffi, lib):
    x = ffi.new("double[]", [0.0, 1.0])
    from_buffer = ffi.from_buffer("double[]", bytearray(16))
    ffi.release(from_buffer)
    freed = []
    wrapped = ffi.gc(ffi.new("double[]", 2), freed.append)
    ffi.release(wrapped)
    assert len(freed) == 1
    for released in (from_buffer, wrapped):
        for call in (lambda r: lib.vdExp(2, x, r), lambda r: lib.vdExp(2, r, ffi.new("double[2]")),
                     lambda r: lib.vdexp([2], r, ffi.new("double[2]"))):
            with pytest.raises(ValueError, match="was released before the call$"):
                call(released)


class ClearingItem:
    """A list item whose conversion empties the list, freeing the items after it."""

    def __init__(self, value):
        self.value, self.items = value, None

    def __float__(self):
        self.items.clear()
        gc.collect()
        return self.value

    __index__ = __int__ = lambda self: int(self.__float__())


@pytest.mark.parametrize("n", [4, 200])  # scratch on the stack and on the heap
def test_a_list_emptied_while_it_converts_converts_as_it_was(ffi, lib, n):
    values = [float(f"{i}.5") for i in range(n)]
    items = [ClearingItem(values[0])] + [float(str(v)) for v in values[1:]]
    items[0].items = items
    out = ffi.new("double[]", n)
    lib.vdExp(n, items, out)
    assert list(out) == pytest.approx([math.exp(v) for v in values], rel=1e-15)
    assert items == []
    count = [ClearingItem(2.0), 5, 6]
    count[0].items = count
    out = ffi.new("double[2]")
    lib.vdexp(count, [0.0, 1.0], out)  # the count is the list's first item, 2
    assert list(out) == [1.0, math.e]


def test_an_ffi_gc_array_has_an_unknown_length(ffi, lib):
    def wrapped(cdecl, init):
        return ffi.gc(ffi.new(cdecl, init), lambda cdata: None)

    def read(cdata, n):
        return ffi.unpack(ffi.cast("double *", cdata), n)

    x, out = wrapped("double[]", [0.0, 1.0]), wrapped("double[]", 2)
    lib.vdExp(2, x, out)
    assert read(out, 2) == [1.0, math.e]
    lib.vdexp(wrapped("int[]", [2]), x, out)
    lib.vdPackV(2, x, wrapped("int[]", [1, 0]), out)
    assert read(out, 2) == [1.0, 0.0]
    fixed = wrapped("double[2]", None)  # a fixed length is the type's, and checked
    with pytest.raises(ValueError, match="argument 3 holds 2 elements, but the call needs 3"):
        lib.vdExp(3, ffi.new("double[3]"), fixed)
