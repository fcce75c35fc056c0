"""Feeds hostile objects to every parameter of every offered function, with the
recording runtime preloaded, and prints as JSON every call that broke the rule: a
refusal is a TypeError, OverflowError or ValueError and never reaches the runtime; an
accepted call reaches it exactly once. Run through recording.run_recorded."""

import json
import sys

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from vantrel.mkl._catalogue.functions import offered_functions
from vantrel.mkl.tessivec import ffi, lib

from arguments import Arguments
from recording import Recorder

REFUSALS = (TypeError, OverflowError, ValueError)
FUNCTIONS = offered_functions()
EXAMPLES = int(sys.argv[1]) if len(sys.argv) > 1 else 2000


class Hostile(ValueError):
    """What the objects below raise when asked for their value."""


class RaisingIndex:
    def __index__(self):
        raise Hostile("no index")

    __int__ = __index__


class RaisingFloat:
    def __float__(self):
        raise Hostile("no float")


# Memory for every pointer cdata below: large enough for any call the tests make, so a
# pointer without a length is still a call C could make.
backing = ffi.new("char[]", 4096)
POINTER_TYPES = ["float *", "double *", "int *", "long long *", "unsigned int *",
                 "MKL_Complex8 *", "MKL_Complex16 *", "void *", "char *"]
ARRAY_TYPES = ["float[4]", "double[4]", "int[4]", "long long[4]", "unsigned int[4]",
               "MKL_Complex8[4]", "MKL_Complex16[4]", "char[16]", "double[0]", "float[2]",
               "double[2][2]"]
RECORDS = ["MKL_Complex8", "MKL_Complex16", "DefVmlErrorContext", "MKLVersion"]
EDGES = [0, -1, 1, 2**31 - 1, 2**31, -2**31, -2**31 - 1, 2**32 - 1, 2**32, 2**63 - 1, 2**63,
         -2**63, -2**63 - 1, 2**64, 10**30, True]
wrong_callback = ffi.callback("int(int)", lambda value: 0)


def released(cdata):
    ffi.release(cdata)
    return cdata


# Memory that belongs to another object: released, read-only, or behind ffi.gc.
BORROWED = [released(ffi.from_buffer("double[]", bytearray(64))),
            ffi.from_buffer("double[]", bytes(64)), ffi.from_buffer("int[]", bytes(64)),
            ffi.gc(ffi.new("double[]", 8), lambda cdata: None),
            ffi.gc(ffi.new("int[4]"), lambda cdata: None),
            released(ffi.gc(ffi.new("double[]", 8), lambda cdata: None)),
            ffi.cast("void *", wrong_callback)]

FIXED_HOSTILES = (
    EDGES + [0.5, -1.0, 1e300, float("nan"), float("inf"), None, "", "abc", b"", b"\x00" * 16,
             [], [None], [[1.0]], ["x"], [2**40], (1.0, "x"), {"real": "x"}, object(),
             RaisingIndex(), RaisingFloat(), [RaisingFloat()], [RaisingIndex()],
             ffi.NULL, wrong_callback, lib.vdExp]
    + [ffi.cast(t, backing) for t in POINTER_TYPES]
    + [ffi.new(t) for t in ARRAY_TYPES]
    + [ffi.new(r + " *")[0] for r in RECORDS]
    + BORROWED
)

hostile_objects = st.one_of(
    st.sampled_from(FIXED_HOSTILES),
    st.integers(),
    st.floats(),
    st.text(max_size=6),
    st.binary(max_size=24),
    st.lists(st.one_of(st.floats(), st.integers(), st.none()), max_size=6),
    st.lists(st.lists(st.floats(), max_size=3), max_size=3),
    st.tuples(st.floats(), st.floats()),
    st.dictionaries(st.sampled_from(["real", "imag", "other"]), st.floats(), max_size=3),
)

recorder = Recorder()
broken = []
judged = {"refused": 0, "accepted": 0}


def judge(function, arguments, how):
    _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
    judged["refused" if exception is not None else "accepted"] += 1
    if exception is not None:
        if not isinstance(exception, REFUSALS) or calls:
            broken.append({"function": function.name, "how": how, "calls": len(calls),
                           "error": f"{type(exception).__name__}: {exception}"})
    elif len(calls) != 1 or calls[0].symbol != function.runtime_symbol:
        broken.append({"function": function.name, "how": how, "calls": len(calls)})


def every_position_every_fixed_hostile():
    for function in FUNCTIONS:
        valid = Arguments(ffi, function).values
        for position in range(len(function.params)):
            for index, hostile in enumerate(FIXED_HOSTILES):
                arguments = list(valid)
                arguments[position] = hostile
                judge(function, arguments, f"argument {position + 1} = hostile #{index}")


@settings(max_examples=EXAMPLES, derandomize=True, deadline=None, database=None,
          suppress_health_check=list(HealthCheck))
@given(st.sampled_from(FUNCTIONS), st.data())
def random_hostiles(function, data):
    arguments = list(Arguments(ffi, function).values)
    for position in range(len(arguments)):
        if data.draw(st.booleans(), label=f"replace argument {position + 1}"):
            arguments[position] = data.draw(hostile_objects, label=f"argument {position + 1}")
    judge(function, arguments, repr(arguments)[:300])


if __name__ == "__main__":
    recorder.set_touch_memory(False)  # a count of zero with a short array is a valid call
    every_position_every_fixed_hostile()
    random_hostiles()
    json.dump({"broken": broken[:50], "broken_count": len(broken), "judged": judged},
              sys.stdout)
