"""Hostile objects in every parameter of every wrapper: a clear refusal before the
runtime, or one ordinary call, and never a crash. A refusal is a TypeError,
OverflowError or ValueError and never reaches the runtime; an accepted call reaches it
exactly once.

Runs only with the recording runtime preloaded (test_recorded_runs.py)."""

import mmap
import threading
import time

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from vantrel.mkl._catalogue.functions import offered_functions
from vantrel.mkl.tessivec import ffi, lib

from arguments import Arguments
from recording import WRITTEN_BYTE

REFUSALS = (TypeError, OverflowError, ValueError)
FUNCTIONS = offered_functions()
EXAMPLES = 1500


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



@pytest.fixture(scope="module", autouse=True)
def untouched_memory(recorder):
    """A count of zero with a short array is a valid call: the recorder must not read or
    write past what the call may reach."""
    recorder.set_touch_memory(False)
    yield
    recorder.set_touch_memory(True)


def broken_rule(recorder, function, arguments):
    """How the call broke the rule, or None; and whether it was refused."""
    _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
    if exception is not None:
        if not isinstance(exception, REFUSALS) or calls:
            return f"{len(calls)} calls, {type(exception).__name__}: {exception}", True
        return None, True
    if len(calls) != 1 or calls[0].symbol != function.runtime_symbol:
        return f"{len(calls)} calls of {[c.symbol for c in calls]}", False
    return None, False


def test_every_fixed_hostile_in_every_position(recorder):
    broken, judged = [], {True: 0, False: 0}
    for function in FUNCTIONS:
        valid = Arguments(ffi, function).values
        for position in range(len(function.params)):
            for index, hostile in enumerate(FIXED_HOSTILES):
                arguments = list(valid)
                arguments[position] = hostile
                how, refused = broken_rule(recorder, function, arguments)
                judged[refused] += 1
                if how is not None:
                    broken.append(f"{function.name} argument {position + 1} = hostile "
                                  f"#{index}: {how}")
    assert broken[:50] == [] and len(broken) == 0
    assert judged[True] > 100_000 and judged[False] > 10_000


@settings(max_examples=EXAMPLES, derandomize=True, deadline=None, database=None,
          suppress_health_check=list(HealthCheck))
@given(function=st.sampled_from(FUNCTIONS), data=st.data())
def test_random_hostiles(recorder, function, data):
    arguments = list(Arguments(ffi, function).values)
    for position in range(len(arguments)):
        if data.draw(st.booleans(), label=f"replace argument {position + 1}"):
            arguments[position] = data.draw(hostile_objects, label=f"argument {position + 1}")
    how, _ = broken_rule(recorder, function, arguments)
    assert how is None, (function.name, repr(arguments)[:300])


def releasable(kind):
    """32 bytes lent by an exporter that frees or moves them once no export holds them:
    the argument to pass, what frees the memory, and what reads it."""
    if kind == "mmap":
        memory = mmap.mmap(-1, 32)
        return ffi.from_buffer("double[]", memory), memory.close, lambda: memory[:]
    if kind == "memoryview":
        memory = memoryview(bytearray(32))
        return ffi.from_buffer("double[]", memory), memory.release, memory.tobytes
    if kind == "numpy array":  # resizes unless another reference is held
        memory = np.zeros(4)
        return ffi.from_buffer("double[]", memory), lambda: memory.resize(8), memory.tobytes
    memory = bytearray(32)
    cdata = ffi.from_buffer("double[]", memory)
    if kind == "ffi.gc wrapper":  # releasing it releases the from_buffer cdata too
        cdata = ffi.gc(cdata, ffi.release)
    return cdata, memory.clear, lambda: bytes(memory)


@pytest.mark.parametrize("kind", ["bytearray", "memoryview", "mmap", "ffi.gc wrapper",
                                  "numpy array"])
def test_memory_released_by_another_thread_during_the_call_stays_in_place(recorder, kind):
    """While the recorder holds the call inside the runtime, this thread releases the
    array, read and written in place, and tries to free its memory: the exporter refuses
    until the call has returned, and the runtime writes into the memory it was given."""
    argument, free, contents = releasable(kind)
    recorder.set_touch_memory(True)
    recorder.set_block_timeout(10.0)
    recorder.reset()
    recorder.block_next_call()
    worker = threading.Thread(target=lib.vdExp, args=(4, argument, argument))
    worker.start()
    try:
        deadline = time.monotonic() + 10
        while not recorder.is_blocked() and worker.is_alive() and time.monotonic() < deadline:
            time.sleep(0.001)
        assert recorder.is_blocked()
        ffi.release(argument)
        with pytest.raises(ValueError if kind == "numpy array" else BufferError):
            free()
    finally:
        recorder.release()
        worker.join()
        recorder.set_touch_memory(False)
    assert [call.symbol for call in recorder.calls()] == ["vdExp"]
    assert contents() == bytes([WRITTEN_BYTE]) * 32
    if kind != "numpy array":  # (the closure's own reference keeps refusing)
        free()  # the call's exports are given back
