"""What the runtime receives from every wrapper, seen by the recording runtime.

Runs only with the recording runtime preloaded (test_recorded_runs.py). Each
function's own wiring, which runtime symbol it calls with which arguments, is checked
for all 1044 functions; the conversions, which every function of one wrapper shape
(C type and parameter roles) runs alike, once per shape.
"""

import math
import re
import struct
import threading
import time

import numpy as np
import pytest
from vantrel.mkl._catalogue.c_types import Record
from vantrel.mkl._catalogue.functions import VML_ERROR_CALLBACK
from vantrel.mkl._catalogue.roles import (
    CALLBACK,
    COUNT,
    INCREMENT,
    INDEXES,
    MASK,
    MODE,
    MODE_VALUE,
    SCALAR,
    STATUS,
)
from vantrel.mkl.tessivec import ffi, lib

from arguments import Spy
from conftest import OFFERED, ONE_PER_SHAPE
from recording import (
    ARRAY_ELEMENTS_RECORDED,
    WRITTEN_BYTE,
    elements_recorded,
    is_pointer_parameter,
)
from runtime_values import ACCURACY_MASK, DEFINED_ACCURACIES, HA

INTEGER_RANGES = {"int": (-2**31, 2**31 - 1), "unsigned int": (0, 2**32 - 1),
                  "long long": (-2**63, 2**63 - 1)}
INTEGER_EDGES = {
    "int": [-1, 0, 1, 2**31 - 1, -2**31, 2**31, -2**31 - 1],
    "long long": [-1, 0, 2**31 - 1, -2**31, 2**63 - 1, -2**63, 2**63, -2**63 - 1],
    "unsigned int": [0, 1, 2**31, 4294967295, -1, 2**32],
}
FLOAT_SCALARS = [0.1, 1e300, -1e300, math.nan, -1.0, 3, 1 + 2**-24, 1 + 3 * 2**-24, 2**-149,
                 2**-150, 1e-50, -0.0, 3.4028235677973366e38, math.inf,
                 struct.unpack("=d", bytes.fromhex("2301000000fff47f"))[0]]  # a NaN payload
# Arrays hold more than the recorder looks at, enough for every call made here (counts
# and increments are small, indexes below 64), so no call is refused as too long for
# its arrays; zeros after the sample values are valid indexes and unselected mask
# entries.
ARRAY_LENGTH = 64
LOCK_FAILURES_BEFORE_GIVING_UP = 3


def name_of(function):
    return function.name


def shapes_with(predicate):
    return [f for f in ONE_PER_SHAPE if predicate(f)]


@ffi.callback("VMLErrorCallBack")
def error_callback(context):
    return 0


class Refused:
    """An object no conversion accepts."""


def base_type(parameter):
    """The type of a by-value parameter, or the element type of a pointer parameter."""
    return parameter.c_type.target if is_pointer_parameter(parameter) else parameter.c_type


def sample_values(index, parameter):
    """Distinct values for parameter `index`, so that a swap or a copy shows."""
    element = base_type(parameter)
    count = elements_recorded(parameter) if is_pointer_parameter(parameter) else 1
    if parameter.role is CALLBACK:
        return []
    if parameter.role in (INDEXES, MASK):
        return [10 * (index + 1) + j for j in range(count)]
    if parameter.role in (COUNT, INCREMENT):
        return [3 + index]
    # Modes keep the accuracy field at HA, which the wrappers take.
    if parameter.role is MODE:
        return [(1 << 40) + (index << 4) + HA]
    if parameter.role is MODE_VALUE:
        return [0x80000000 + (index << 4) + HA]
    if parameter.role is STATUS:
        return [-5 - index]
    if isinstance(element, Record):
        return [[index + 1 + j / 8, -index - 1 - j / 16] for j in range(count)]
    return [index + 1 + j / 8 for j in range(count)]


def is_integer(parameter):
    """Whether the parameter is an integer or an array of integers: a count, increment,
    mode or status, an index array or a mask. What the wrapper reads of these reaches
    the runtime as a private copy in scratch memory: a single value, and of an index
    array or mask the count's number of entries."""
    return base_type(parameter).declare() in INTEGER_RANGES


def address_of(cdata):
    return int(ffi.cast("uintptr_t", cdata))


def padded(parameter, values):
    if not parameter.role.array:
        return list(values)
    zero = [0.0, 0.0] if isinstance(base_type(parameter), Record) else 0
    return list(values) + [zero] * (ARRAY_LENGTH - len(values))


def as_cdata(parameter, values):
    """The argument as memory of its own: a cdata array, pointer or record."""
    if parameter.c_type == VML_ERROR_CALLBACK:
        return error_callback
    element = base_type(parameter).declare()
    if is_pointer_parameter(parameter):
        if parameter.role.array:
            return ffi.new(f"{element}[]", padded(parameter, values))
        return ffi.new(f"{element} *", values[0])
    if isinstance(base_type(parameter), Record):
        return ffi.new(f"{element} *", values[0])[0]
    return values[0]


def cdata_arguments(function):
    values = [sample_values(i, p) for i, p in enumerate(function.params)]
    return values, [as_cdata(p, v) for p, v in zip(function.params, values)]


def bare_pointer(argument):
    """An array as a pointer to its first element: memory without a known length."""
    if isinstance(argument, ffi.CData) and ffi.typeof(argument).kind == "array":
        return ffi.cast(ffi.typeof(argument).item.cname + " *", argument)
    return argument


def only_call(function, exception, calls):
    assert exception is None
    assert len(calls) == 1, "the runtime must be called exactly once"
    (call,) = calls
    assert call.symbol == function.runtime_symbol
    assert len(call.arguments) == len(function.params)
    return call


def checked_values(function, given, received):
    """Per parameter: the values given and received, and whether the runtime must get a
    private copy rather than the caller's memory."""
    count = next(values[0] for p, values in zip(function.params, given) if p.role is COUNT) \
        if function.family.name != "service" else 0
    for parameter, values, argument in zip(function.params, given, received):
        if parameter.role.array and is_integer(parameter):
            n = max(count, 0)
            yield parameter, values[:n], argument.values[:n], n > 0
        else:
            yield parameter, values, argument.values, is_integer(parameter)


@pytest.mark.parametrize("function", OFFERED, ids=name_of)
def test_runtime_receives_the_callers_memory_and_values_in_order(recorder, function):
    values, arguments = cdata_arguments(function)
    result, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
    call = only_call(function, exception, calls)
    checked = checked_values(function, values, call.arguments)
    for (parameter, given, received, copied), argument, recorded in zip(
            checked, arguments, call.arguments):
        if parameter.c_type == VML_ERROR_CALLBACK:  # a function pointer, by value
            assert recorded.values == [address_of(argument)]
            continue
        if is_pointer_parameter(parameter):
            assert (recorded.address != address_of(argument)) == copied, parameter.name
        assert received == given, parameter.name
        if isinstance(argument, ffi.CData) and ffi.typeof(argument).kind == "struct":
            assert recorded.raw == bytes(ffi.buffer(ffi.addressof(argument))).hex()
    for argument, parameter in zip(arguments, function.params):
        if parameter.role.written:
            size = ffi.sizeof(ffi.typeof(argument).item) * ARRAY_ELEMENTS_RECORDED
            assert set(bytes(ffi.buffer(argument))[:size]) == {WRITTEN_BYTE}, \
                "what the runtime wrote into a cdata array must reach the caller"
    if function.family.name != "service":
        assert result is None


def wrong_count(function, given):
    """The message of a call of `function` with `given` arguments: CPython's for a
    function of none or one (whose name it qualifies as its version does), else the
    backend's. Functions of one type share a wrapper body, but each names itself."""
    name, wanted = function.name, len(function.params)
    if wanted == 0:
        return rf"\b{name}\(\) takes no arguments \({given} given\)$"
    if wanted == 1:
        return rf"\b{name}\(\) takes exactly one argument \({given} given\)$"
    return rf"^{name} expected {wanted} arguments, got {given}$"


@pytest.mark.parametrize("function", OFFERED, ids=name_of)
def test_a_wrong_argument_count_names_the_function_and_stops_the_call(recorder, function):
    # Arguments no conversion takes: the count is checked before any of them converts.
    wanted = len(function.params)
    for given in sorted({0, wanted - 1, wanted + 1} - {wanted, -1}):
        arguments = [Refused() for _ in range(given)]
        _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
        assert isinstance(exception, TypeError) and not calls, given
        assert re.search(wrong_count(function, given), str(exception)), str(exception)


@pytest.mark.parametrize("function", ONE_PER_SHAPE, ids=name_of)
def test_lists_and_tuples_arrive_as_scratch_copies_that_stay_private(recorder, function):
    values = [sample_values(i, p) for i, p in enumerate(function.params)]
    arguments = []
    for i, (parameter, its_values) in enumerate(zip(function.params, values)):
        if parameter.c_type == VML_ERROR_CALLBACK:
            arguments.append(error_callback)
        elif is_pointer_parameter(parameter):
            sequence = padded(parameter, its_values)
            arguments.append(sequence if i % 2 == 0 else tuple(sequence))
        else:
            arguments.append(its_values[0])
    before = [repr(a) for a in arguments]
    _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
    call = only_call(function, exception, calls)
    addresses = []
    for (parameter, given, received, _), recorded in zip(
            checked_values(function, values, call.arguments), call.arguments):
        if parameter.role is CALLBACK:
            continue
        assert received == given, parameter.name
        if is_pointer_parameter(parameter):
            addresses.append(recorded.address)
    assert 0 not in addresses and len(set(addresses)) == len(addresses)
    assert [repr(a) for a in arguments] == before, "what the runtime wrote must not reach a list"


@pytest.mark.parametrize("function", shapes_with(
    lambda f: any(is_integer(p) and not p.role.array for p in f.params)), ids=name_of)
def test_integers_pass_unchanged_and_out_of_range_values_are_refused(recorder, function):
    """Each integer parameter at the edges of its type, and just past them. The arrays go
    as bare pointers: a count of 2**31 - 1 reaches the runtime only where no array
    length tells the wrapper it is too large."""
    for i, parameter in enumerate(function.params):
        if not is_integer(parameter) or parameter.role.array:
            continue
        kind = base_type(parameter).declare()
        low, high = INTEGER_RANGES[kind]
        for value in INTEGER_EDGES[kind]:
            owners = cdata_arguments(function)[1]  # a cast does not keep its array alive
            arguments = [bare_pointer(a) for a in owners]
            arguments[i] = [value] if is_pointer_parameter(parameter) else value
            _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
            case = (parameter.name, value, exception)
            if not low <= value <= high:
                assert isinstance(exception, OverflowError) and not calls, case
            elif (parameter.role in (MODE, MODE_VALUE)
                  and value & ACCURACY_MASK not in DEFINED_ACCURACIES):
                assert isinstance(exception, ValueError) and not calls, case  # no such accuracy
            else:
                call = only_call(function, exception, calls)
                assert call.arguments[i].values == [value], case


@pytest.mark.parametrize("function", shapes_with(
    lambda f: f.letter in ("s", "d") and any(p.role is SCALAR for p in f.params)), ids=name_of)
def test_real_scalars_reach_the_runtime_rounded_to_nearest(recorder, function):
    single = function.letter == "s"
    for i, parameter in enumerate(function.params):
        if parameter.role is not SCALAR:
            continue
        for given in FLOAT_SCALARS:
            arguments = cdata_arguments(function)[1]
            arguments[i] = [given] if is_pointer_parameter(parameter) else given
            _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
            raw = bytes.fromhex(only_call(function, exception, calls).arguments[i].raw)
            received = np.frombuffer(raw, dtype=np.float32 if single else np.float64)[0]
            if math.isnan(given):
                assert math.isnan(received)
                if not single:
                    assert raw == struct.pack("=d", given), "a double travels bit for bit"
                continue
            with np.errstate(over="ignore"):
                expected = np.float64(given).astype(np.float32) if single else np.float64(given)
            assert received == expected, (parameter.name, given)
            assert math.copysign(1, received) == math.copysign(1, expected), (parameter.name, given)


@pytest.mark.parametrize("function", shapes_with(
    lambda f: f.letter in ("c", "z") and any(p.role is SCALAR for p in f.params)), ids=name_of)
def test_complex_scalars_arrive_with_the_callers_bytes(recorder, function):
    for i, parameter in enumerate(function.params):
        if parameter.role is not SCALAR:
            continue
        type_name = base_type(parameter).type_name
        record = ffi.new(f"{type_name} *")
        ffi.buffer(record)[:] = (bytes.fromhex("00000000000000802301000000fff47f")
                                 [:ffi.sizeof(record[0])])  # -0.0 and a NaN payload
        for given in [record[0], [1.5, -2.0], (0.25, 8.0), {"real": -3.0, "imag": 0.5}]:
            arguments = cdata_arguments(function)[1]
            arguments[i] = [given] if is_pointer_parameter(parameter) else given
            _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
            expected = bytes(ffi.buffer(ffi.new(f"{type_name} *", given))).hex()
            assert only_call(function, exception, calls).arguments[i].raw == expected, given


@pytest.mark.parametrize("function", ONE_PER_SHAPE, ids=name_of)
def test_errno_is_restored_before_and_saved_after_the_call(recorder, function):
    arguments = cdata_arguments(function)[1]
    recorder.set_errno_on_return(3001)
    ffi.errno = 1001
    try:
        _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
        errno_after = ffi.errno
    finally:
        recorder.set_errno_on_return(0)
    assert only_call(function, exception, calls).errno_on_entry == 1001
    assert errno_after == 3001


lock_failures = []


@pytest.mark.parametrize("function", ONE_PER_SHAPE, ids=name_of)
def test_the_interpreter_lock_is_released_during_the_call(recorder, function):
    """Calls the function on a second thread, which the recorder holds inside the
    runtime, while this thread runs Python code and watches it block."""
    assert len(lock_failures) < LOCK_FAILURES_BEFORE_GIVING_UP, \
        "not tried: the lock was held in earlier calls"
    arguments = cdata_arguments(function)[1]
    recorder.set_block_timeout(5.0)
    recorder.reset()
    recorder.block_next_call()
    worker = threading.Thread(target=getattr(lib, function.name), args=arguments)
    worker.start()
    seen_blocked = False
    deadline = time.monotonic() + 10
    while worker.is_alive() and time.monotonic() < deadline:
        if recorder.is_blocked():
            seen_blocked = True
            break
    recorder.release()
    worker.join()
    calls = recorder.calls()
    released = calls[0].released if len(calls) == 1 else None
    if not (seen_blocked and released == 1):
        lock_failures.append(function.name)
    assert len(calls) == 1
    assert seen_blocked, "no other thread ran while the runtime was called"
    assert released == 1


def spied_arguments(function, refused_position=None):
    """Valid arguments made of spies (one Refused object at `refused_position`), and per
    parameter the spies in it (None for the callback, which takes no number)."""
    arguments, spies = [], []
    for parameter in function.params:
        if parameter.c_type == VML_ERROR_CALLBACK:
            arguments.append(ffi.NULL)
            spies.append(None)
            continue
        pairs = isinstance(base_type(parameter), Record)
        count = elements_recorded(parameter) if is_pointer_parameter(parameter) else 1
        items = [[Spy(), Spy()] if pairs else Spy() for _ in range(count)]
        spies.append([s for item in items for s in (item if pairs else [item])])
        arguments.append(items if is_pointer_parameter(parameter) else items[0])
    if refused_position is not None:
        arguments[refused_position] = Refused()
    return arguments, spies


def conversions(spies):
    return [None if its is None else sum(s.conversions for s in its) for its in spies]


@pytest.mark.parametrize("function", ONE_PER_SHAPE, ids=name_of)
def test_a_refused_argument_stops_the_call(recorder, function):
    arguments, spies = spied_arguments(function)
    _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
    only_call(function, exception, calls)
    assert all(c is None or c > 0 for c in conversions(spies)), "every argument converted"
    for refused in range(len(function.params)):
        arguments, spies = spied_arguments(function, refused)
        _, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
        assert isinstance(exception, TypeError) and not calls, (refused, exception)
        for position, count in enumerate(conversions(spies)):
            if count is not None:
                assert (count > 0) == (position < refused), (refused, conversions(spies))


@pytest.mark.parametrize("function", shapes_with(lambda f: f.family.name == "service"), ids=name_of)
def test_service_results_come_back_as_the_runtime_gave_them(recorder, function):
    arguments = cdata_arguments(function)[1]
    for chosen in [0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0x7F0012345678]:
        recorder.set_result(chosen)
        try:
            returned, exception, _ = recorder.record(getattr(lib, function.name), *arguments)
        finally:
            recorder.set_result(0)
        assert exception is None
        if function.result == VML_ERROR_CALLBACK:
            assert ffi.typeof(returned) is ffi.typeof("VMLErrorCallBack")
            assert address_of(returned) == chosen
        elif function.result.name == "unsigned int":
            assert returned == chosen & 0xFFFFFFFF
        else:
            assert returned == (chosen + 2**31) % 2**32 - 2**31
