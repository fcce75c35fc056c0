"""Pack and unpack by increment, index array and mask, against NumPy's indexing, in all
four precisions and all three spellings."""

import numpy as np
import pytest
from vantrel.mkl._catalogue.functions import PRECISIONS

from conftest import OFFERED

PACK_UNPACK = {f.name: f for f in OFFERED if f.family.name.startswith(("pack", "unpack"))}
SENTINEL = -7.0
INCREMENT = 3
INDEXES = np.array([5, 0, 9, 2, 2, 11], dtype=np.int32)  # out of order, one repeated
MASK = np.array([0, 1, 0, 2, -3, 0, 1, 1, 0, 0, 5, 0], dtype=np.int32)  # non-zero selects
SELECTORS = {"increment": INCREMENT, "indexes": INDEXES, "mask": MASK}
COUNTS = {"increment": 6, "indexes": len(INDEXES), "mask": len(MASK)}


def elements(letter, count):
    values = np.arange(count, dtype=np.float64) + 1.25
    if PRECISIONS[letter].is_complex:
        values = values - 1j * (values / 2)
    return values.astype(PRECISIONS[letter].numpy_dtype)


def gather(kind, source):
    """What pack writes: the n selected elements of the source, in order."""
    if kind == "increment":
        return source[:COUNTS[kind] * INCREMENT:INCREMENT]
    if kind == "indexes":
        return source[INDEXES]
    return source[:len(MASK)][MASK != 0]


def scatter(kind, values, target):
    """What unpack does: the selected places of the target receive the values in order;
    where an index repeats, the later element wins."""
    if kind == "increment":
        target[:COUNTS[kind] * INCREMENT:INCREMENT] = values
    elif kind == "indexes":
        for value, place in zip(values, INDEXES):
            target[place] = value
    else:
        target[:len(MASK)][MASK != 0] = values


@pytest.mark.parametrize("name", sorted(PACK_UNPACK))
def test_pack_and_unpack_move_the_selected_elements(ffi, lib, name):
    function = PACK_UNPACK[name]
    direction, kind = function.family.name.split("_")
    n = COUNTS[kind]
    if direction == "pack":
        source = elements(function.letter, 40)
        output = np.full(n + 2, SENTINEL).astype(source.dtype)
        expected = output.copy()
        picked = gather(kind, source)
        expected[:len(picked)] = picked
    else:
        source = elements(function.letter, int(np.count_nonzero(MASK)) if kind == "mask" else n)
        output = np.full(40, SENTINEL).astype(source.dtype)
        expected = output.copy()
        scatter(kind, source, expected)
    element = PRECISIONS[function.letter].element.spelling
    selector = SELECTORS[kind]
    by_ref = function.by_reference
    arguments = {
        "count": ffi.new("int *", n) if by_ref else n,
        "input": ffi.from_buffer(f"{element}[]", source),
        "output": ffi.from_buffer(f"{element}[]", output, require_writable=True),
        "increment": ffi.new("int *", INCREMENT) if by_ref else INCREMENT,
        "indexes": ffi.from_buffer("int[]", selector) if kind != "increment" else None,
    }
    arguments["mask"] = arguments["indexes"]
    getattr(lib, name)(*[arguments[p.role.name] for p in function.params])
    np.testing.assert_array_equal(output, expected)
