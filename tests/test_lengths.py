"""Arrays too short for the call are refused before the runtime runs."""

import math

import pytest

from arguments import Arguments
from conftest import OFFERED, ONE_PER_SHAPE
from runtime_values import STATUS_BADSIZE, STATUS_OK

# The length check is the same for every function of one wrapper shape.
ELEMENTWISE = [f for f in ONE_PER_SHAPE if f.family.is_elementwise]


def array_positions(function):
    return [i for i, p in enumerate(function.params) if p.role.array]


def shortened(ffi, array, length):
    """A copy of a cdata array with `length` elements."""
    item = ffi.typeof(array).item.cname
    copy = ffi.new(f"{item}[]", length)
    ffi.memmove(copy, array, ffi.sizeof(item) * length)
    return copy


@pytest.mark.parametrize("function", ELEMENTWISE, ids=lambda f: f.name)
def test_every_elementwise_array_must_hold_the_count(ffi, lib, clean_runtime_state, function):
    call = getattr(lib, function.name)
    for position in array_positions(function):
        arguments = Arguments(ffi, function, n=4)
        values = list(arguments.values)
        values[position] = shortened(ffi, values[position], 3)
        before = arguments.output_bytes(ffi)
        with pytest.raises(ValueError, match=f"^{function.name}: " + short(position + 1, 3, 4)):
            call(*values)
        assert arguments.output_bytes(ffi) == before
    assert lib.vmlGetErrStatus() == STATUS_OK


@pytest.mark.parametrize("name", ["vdExp", "vdexp", "VMDEXP"])
def test_lists_shorter_than_the_count_are_refused(ffi, lib, name):
    function = next(f for f in OFFERED if f.name == name)
    arguments = Arguments(ffi, function, n=3)
    values = list(arguments.values)
    values[1] = [0.5, 0.5]
    with pytest.raises(ValueError, match="argument 2 holds 2 elements, but the call needs 3"):
        getattr(lib, name)(*values)
    values[1] = [0.5, 0.5, 0.5]
    getattr(lib, name)(*values)  # exactly long enough


def test_what_needs_no_check(ffi, lib, clean_runtime_state):
    x, r = ffi.new("double[]", [0.0, 1.0]), ffi.new("double[]", [7.0, 7.0])
    # A count of zero or less touches nothing, whatever the arrays hold.
    lib.vdExp(0, ffi.new("double[0]"), r)
    lib.vdExp(-5, [], r)
    assert list(r) == [7.0, 7.0]
    assert lib.vmlGetErrStatus() == STATUS_BADSIZE  # the runtime saw the -5
    lib.vdExp(2, ffi.cast("double *", x), ffi.cast("double *", r))  # bare pointers: as C
    assert list(r) == [1.0, pytest.approx(math.e)]
    big = ffi.new("double[]", 8)
    lib.vdExp(8, big, ffi.cast("double *", big))
    assert list(big) == [1.0] * 8
    with pytest.raises(ValueError, match="argument 1 holds 0 elements, but the call needs 1"):
        lib.vdexp([], x, r)


def test_buffers_have_the_length_of_their_memory(ffi, lib):
    np = pytest.importorskip("numpy")
    values = np.linspace(0.0, 1.0, 6)
    out = np.zeros(6)
    lib.vdExp(6, ffi.from_buffer("double[]", values), ffi.from_buffer("double[]", out))
    assert out[5] == pytest.approx(np.e)
    with pytest.raises(ValueError, match="argument 3 holds 6 elements, but the call needs 7"):
        lib.vdExp(7, ffi.new("double[7]"), ffi.from_buffer("double[]", out))
    with pytest.raises(ValueError, match="argument 2 holds 3 elements"):  # 6 doubles
        lib.vzExp(4, ffi.from_buffer("MKL_Complex16[]", values), ffi.new("MKL_Complex16[4]"))


def short(position, holds, needs):
    plural = "" if holds == 1 else "s"
    return f"argument {position} holds {holds} element{plural}, but the call needs {needs}$"


def before_start(cause, value, position):
    return f"{cause} {value} would reach before the start of argument {position}$"


# a(k): an input of k elements; y(k): an output of k elements.
@pytest.mark.parametrize("call, message", [
    ("vdPackI(3, a(5), 2, y(3))", None),
    ("vdPackI(3, a(4), 2, y(3))", short(2, 4, 5)),
    ("vdPackI(3, a(1), 0, y(3))", None),
    ("vdPackI(3, a(9), -1, y(3))", before_start("increment", -1, 2)),
    ("vdpacki([3], a(5), [2], y(2))", short(4, 2, 3)),
    ("vdUnpackI(3, a(3), y(6), 3)", short(3, 6, 7)),
    ("vdUnpackI(2, a(2), y(9), -2)", before_start("increment", -2, 3)),
    ("vdPackV(2, a(8), [0, 7], y(2))", None),
    ("vdPackV(2, a(7), [0, 7], y(2))", short(2, 7, 8)),
    ("vdPackV(2, a(7), [3, -1], y(2))", before_start("index", -1, 2)),
    ("vdPackV(3, a(7), [0, 1], y(3))", short(3, 2, 3)),
    ("vdUnpackV(2, a(2), y(4), [4, 1])", short(3, 4, 5)),
    ("vdPackM(4, a(4), [1, 0, -3, 0], y(2))", None),
    ("vdPackM(4, a(4), [1, 0, -3, 2], y(2))", short(4, 2, 3)),
    ("vdUnpackM(4, a(1), y(4), [0, 5, 0, 0])", None),
    ("vdUnpackM(4, a(1), y(4), [0, 5, 0, 1])", short(2, 1, 2)),
    ("vdUnpackM(4, a(2), y(3), [0, 5, 0, 1])", short(3, 3, 4)),
])
def test_pack_and_unpack_reach(ffi, lib, call, message):
    def a(n):
        return ffi.new("double[]", [float(i) for i in range(n)])

    def y(n):
        return ffi.new("double[]", n)

    namespace = {"a": a, "y": y, **{name: getattr(lib, name) for name in dir(lib)}}
    if message is None:
        eval(call, namespace)
    else:
        with pytest.raises(ValueError, match=message):
            eval(call, namespace)


def test_unreadable_index_arrays_leave_the_gather_unchecked(ffi, lib):
    # The wrapper measures a gather's reach by its indexes, where it can read them: here
    # `a` is known to hold 2 elements, in memory that holds 8.
    memory = ffi.new("double[]", [float(i) for i in range(8)])
    a, y = memory[0:2], ffi.new("double[2]")
    indexes = ffi.new("int[]", [0, 7])
    with pytest.raises(ValueError, match=short(2, 2, 8)):
        lib.vdPackV(2, a, indexes, y)
    lib.vdPackV(2, a, ffi.cast("int *", indexes), y)  # as C would
    assert list(y) == [0.0, 7.0]


def test_single_values_behind_pointers(ffi, lib, clean_runtime_state):
    with pytest.raises(ValueError, match="vmlsetmode: argument 1 holds 0 elements"):
        lib.vmlsetmode([])
    with pytest.raises(ValueError, match="VDPOWX: argument 3 holds 0 elements"):
        lib.VDPOWX([1], [2.0], [], ffi.new("double[1]"))
    with pytest.raises(ValueError, match="vmdexp: argument 4 holds 0 elements"):
        lib.vmdexp([1], [2.0], ffi.new("double[1]"), ffi.new("long long[0]"))
