"""Calls every offered function with the recording runtime preloaded, in each of the
ways test_recorded_calls.py checks, and prints as JSON what was passed and what the
recorder saw. Run through recording.run_recorded, never imported by the tests."""

import json
import math
import struct
import sys
import threading
import time
from dataclasses import asdict

from vantrel.mkl._catalogue.c_types import Record
from vantrel.mkl._catalogue.functions import VML_ERROR_CALLBACK
from vantrel.mkl.tessivec import ffi, lib

from recording import (
    ARRAY_ELEMENTS_RECORDED,
    ARRAY_ROLES,
    FUNCTIONS,
    WRITTEN_ROLES,
    Recorder,
    c_type_name,
    elements_recorded,
    is_pointer_parameter,
)

INTEGER_EDGES = {
    "int": ([-1, 0, 1, 2**31 - 1, -2**31], [2**31, -2**31 - 1]),
    "long long": ([-1, 0, 2**31 - 1, -2**31, 2**63 - 1, -2**63], [2**63, -2**63 - 1]),
    "unsigned int": ([0, 1, 2**31, 4294967295], [-1, 2**32]),
}
FLOAT_SCALARS = [0.1, 1e300, -1e300, math.nan, -1.0, 3, 1 + 2**-24, 1 + 3 * 2**-24, 2**-149,
                 2**-150, 1e-50, -0.0, 3.4028235677973366e38, math.inf]
NAN_WITH_PAYLOAD = struct.unpack("=d", bytes.fromhex("2301000000fff47f"))[0]
LOCK_FAILURES_BEFORE_GIVING_UP = 3
# Arrays hold more than the recorder looks at, enough for every call the driver makes
# (counts and increments are small, indexes below 64), so no call is refused as too long
# for its arrays; zeros after the sample values are valid indexes and unselected mask
# entries.
ARRAY_LENGTH = 64

recorder = Recorder()


@ffi.callback("VMLErrorCallBack")
def error_callback(context):
    return 0


class Spy:
    """A number that counts how often a conversion asks for its value."""

    def __init__(self):
        self.conversions = 0

    def __int__(self):
        self.conversions += 1
        return 1

    __index__ = __int__

    def __float__(self):
        self.conversions += 1
        return 1.0


class Refused:
    """An object no conversion accepts."""


def base_type(parameter):
    """The type of a by-value parameter, or the element type of a pointer parameter."""
    return parameter.c_type.target if is_pointer_parameter(parameter) else parameter.c_type


def sample_values(index, parameter):
    """Distinct values for parameter `index`, so that a swap or a copy shows."""
    element = base_type(parameter)
    count = elements_recorded(parameter) if is_pointer_parameter(parameter) else 1
    if parameter.role.name == "callback":
        return []
    if parameter.role.name in ("indexes", "mask"):
        return [10 * (index + 1) + j for j in range(count)]
    if parameter.role.name in ("count", "increment"):
        return [3 + index]
    # Modes keep the accuracy field at HA, which the wrappers take.
    if parameter.role.name == "mode":
        return [(1 << 40) + (index << 4) + 2]
    if parameter.role.name == "mode_value":
        return [0x80000000 + (index << 4) + 2]
    if parameter.role.name == "status":
        return [-5 - index]
    if isinstance(element, Record):
        return [[index + 1 + j / 8, -index - 1 - j / 16] for j in range(count)]
    return [index + 1 + j / 8 for j in range(count)]


def address_of(cdata):
    return int(ffi.cast("uintptr_t", cdata))


def padded(parameter, values):
    if parameter.role.name not in ARRAY_ROLES:
        return list(values)
    zero = [0.0, 0.0] if isinstance(base_type(parameter), Record) else 0
    return list(values) + [zero] * (ARRAY_LENGTH - len(values))


def as_cdata(parameter, values):
    """The argument as memory of its own: a cdata array, pointer or record."""
    if parameter.c_type == VML_ERROR_CALLBACK:
        return error_callback
    element = c_type_name(base_type(parameter))
    if is_pointer_parameter(parameter):
        if parameter.role.name in ARRAY_ROLES:
            return ffi.new(f"{element}[]", padded(parameter, values))
        return ffi.new(f"{element} *", values[0])
    if isinstance(base_type(parameter), Record):
        return ffi.new(f"{element} *", values[0])[0]
    return values[0]


def as_sequence(index, parameter, values):
    """The argument as Python values: a list or tuple for a pointer, else the value."""
    if parameter.c_type == VML_ERROR_CALLBACK:
        return error_callback
    if is_pointer_parameter(parameter):
        values = padded(parameter, values)
        return values if index % 2 == 0 else tuple(values)
    return values[0]


def described(argument, values):
    """What was passed: the address of memory the argument owns, and its values."""
    if isinstance(argument, ffi.CData) and ffi.typeof(argument).kind in ("pointer", "array"):
        return {"address": address_of(argument), "values": values}
    if isinstance(argument, ffi.CData) and ffi.typeof(argument).kind == "function":
        return {"address": address_of(argument), "values": []}
    if isinstance(argument, ffi.CData):  # a record by value
        return {"address": None, "values": values,
                "raw": bytes(ffi.buffer(ffi.addressof(argument))).hex()}
    return {"address": None, "values": values}


def call(function, arguments):
    """Calls through lib; returns the result, the exception's type name, and the calls."""
    result, exception, calls = recorder.record(getattr(lib, function.name), *arguments)
    error = type(exception).__name__ if exception is not None else None
    return result, error, [asdict(c) for c in calls]


def python_result(result):
    if isinstance(result, ffi.CData):
        return {"callback": ffi.typeof(result) is ffi.typeof("VMLErrorCallBack"),
                "address": address_of(result)}
    return result


def cdata_case(position, function):
    values = [sample_values(i, p) for i, p in enumerate(function.params)]
    arguments = [as_cdata(p, v) for p, v in zip(function.params, values)]
    outputs = [a for a, p in zip(arguments, function.params) if p.role.name in WRITTEN_ROLES]
    errno_before, errno_returned = 1000 + position, 3000 + position
    recorder.set_errno_on_return(errno_returned)
    ffi.errno = errno_before
    result, error, calls = call(function, arguments)
    errno_after = ffi.errno
    recorder.set_errno_on_return(0)
    return {"given": [described(a, v) for a, v in zip(arguments, values)],
            "result": python_result(result), "error": error, "calls": calls,
            "written": [bytes(ffi.buffer(o))[:ffi.sizeof(ffi.typeof(o).item)
                                              * ARRAY_ELEMENTS_RECORDED].hex()
                        for o in outputs],
            "errno": {"before": errno_before, "returned": errno_returned,
                      "after": errno_after}}


def sequence_case(function):
    values = [sample_values(i, p) for i, p in enumerate(function.params)]
    arguments = [as_sequence(i, p, v) for i, (p, v) in enumerate(zip(function.params, values))]
    before = [json.dumps(a) for a in arguments if isinstance(a, (list, tuple))]
    result, error, calls = call(function, arguments)
    after = [json.dumps(a) for a in arguments if isinstance(a, (list, tuple))]
    return {"given": [{"address": None, "values": v} for v in values], "error": error,
            "calls": calls, "sequences_unchanged": before == after}


def received(calls, i):
    """Argument i of the only call, or an empty record when there was not exactly one."""
    return calls[0]["arguments"][i] if len(calls) == 1 else {"values": [], "raw": None}


def bare_pointer(argument):
    """An array as a pointer to its first element: memory without a known length."""
    if isinstance(argument, ffi.CData) and ffi.typeof(argument).kind == "array":
        return ffi.cast(ffi.typeof(argument).item.cname + " *", argument)
    return argument


def integer_cases(function):
    """Each integer parameter at the edges of its type, and just past them. The arrays go
    as bare pointers: a count of 2**31 - 1 reaches the runtime only where no array
    length tells the wrapper it is too large."""
    cases = []
    for i, parameter in enumerate(function.params):
        kind = c_type_name(base_type(parameter))
        if kind not in INTEGER_EDGES or parameter.role.name in ("indexes", "mask"):
            continue
        accepted, refused = INTEGER_EDGES[kind]
        for value in accepted + refused:
            owners = [as_cdata(p, sample_values(j, p)) for j, p in enumerate(function.params)]
            arguments = [bare_pointer(a) for a in owners]
            arguments[i] = [value] if is_pointer_parameter(parameter) else value
            _, error, calls = call(function, arguments)
            observed = received(calls, i)["values"]
            observed = observed[0] if observed else None  # nothing behind a null pointer
            cases.append({"parameter": i, "type": kind, "value": value, "error": error,
                          "calls": len(calls), "observed": observed})
    return cases


def scalar_cases(function):
    """Each floating scalar given as Python numbers, and each by-value record in the
    forms the backend takes, with the bytes the runtime received."""
    cases = []
    for i, parameter in enumerate(function.params):
        if parameter.role.name != "scalar":
            continue
        element = base_type(parameter)
        if isinstance(element, Record):
            record = ffi.new(f"{element.type_name} *")
            ffi.buffer(record)[:] = (bytes.fromhex("00000000000000802301000000fff47f")
                                     [:ffi.sizeof(record[0])])  # -0.0 and a NaN payload
            givens = [record[0], [1.5, -2.0], (0.25, 8.0), {"real": -3.0, "imag": 0.5}]
        else:
            givens = FLOAT_SCALARS + [NAN_WITH_PAYLOAD]
        for given in givens:
            arguments = [as_cdata(p, sample_values(j, p)) for j, p in enumerate(function.params)]
            arguments[i] = [given] if is_pointer_parameter(parameter) else given
            _, error, calls = call(function, arguments)
            if isinstance(element, Record):
                expected = bytes(ffi.buffer(ffi.new(f"{element.type_name} *", given))).hex()
                given_text = repr(given) if not isinstance(given, ffi.CData) else "cdata"
            else:
                expected, given_text = struct.pack("=d", float(given)).hex(), None
            cases.append({"parameter": i, "given": given_text, "given_bytes": expected,
                          "error": error, "calls": len(calls),
                          "observed": received(calls, i)["raw"]})
    return cases


def spy_argument(parameter):
    """A valid argument made of spies, and the spies in it."""
    if parameter.c_type == VML_ERROR_CALLBACK:
        return ffi.NULL, []
    pairs = isinstance(base_type(parameter), Record)
    count = elements_recorded(parameter) if is_pointer_parameter(parameter) else 1
    items = [[Spy(), Spy()] if pairs else Spy() for _ in range(count)]
    spies = [s for item in items for s in (item if pairs else [item])]
    return (items if is_pointer_parameter(parameter) else items[0]), spies


def spied_call(function, refused_position=None):
    arguments, spies = [], []
    for parameter in function.params:
        argument, its_spies = spy_argument(parameter)
        arguments.append(argument)
        spies.append(its_spies)
    if refused_position is not None:
        arguments[refused_position] = Refused()
    _, error, calls = call(function, arguments)
    return {"parameter": refused_position, "error": error, "calls": len(calls),
            "conversions": [sum(s.conversions for s in its) if its else None for its in spies]}


def failure_cases(function):
    """Spies everywhere, then each position refused in turn with spies around it."""
    return {"spied": spied_call(function),
            "refused": [spied_call(function, i) for i in range(len(function.params))]}


def result_cases(function):
    """What the wrapper returns for results the runtime chose."""
    if function.family.name != "service":
        return []
    arguments = [as_cdata(p, sample_values(i, p)) for i, p in enumerate(function.params)]
    chosen = [0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0x7F0012345678]
    cases = []
    for value in chosen:
        recorder.set_result(value)
        result, error, _ = call(function, arguments)
        cases.append({"chosen": value, "error": error, "returned": python_result(result)})
    recorder.set_result(0)
    return cases


class LockProbe:
    """Calls a function on a second thread while this thread watches it block."""

    failures = 0

    def run(self, function):
        if LockProbe.failures >= LOCK_FAILURES_BEFORE_GIVING_UP:
            return {"skipped": True}
        arguments = [as_cdata(p, sample_values(i, p)) for i, p in enumerate(function.params)]
        recorder.reset()
        recorder.block_next_call()
        worker = threading.Thread(target=getattr(lib, function.name), args=arguments)
        worker.start()
        steps, seen_blocked = 0, False
        deadline = time.monotonic() + 10
        while worker.is_alive() and time.monotonic() < deadline:
            steps += 1  # Python code running while the worker is inside the runtime
            if recorder.is_blocked():
                seen_blocked = True
                break
        recorder.release()
        worker.join()
        calls = recorder.calls()
        released = calls[0].released if len(calls) == 1 else None
        if not (seen_blocked and released == 1):
            LockProbe.failures += 1
        return {"skipped": False, "seen_blocked": seen_blocked, "released": released,
                "steps": steps, "calls": len(calls)}


def main():
    recorder.set_block_timeout(5.0)
    probe = LockProbe()
    observations = {}
    for position, function in enumerate(FUNCTIONS):
        observations[function.name] = {
            "cdata": cdata_case(position, function),
            "sequence": sequence_case(function),
            "integers": integer_cases(function),
            "scalars": scalar_cases(function),
            "failures": failure_cases(function),
            "results": result_cases(function),
            "lock": probe.run(function),
        }
    json.dump(observations, sys.stdout)


if __name__ == "__main__":
    main()
