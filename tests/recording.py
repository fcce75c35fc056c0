"""A recording runtime: a stand-in for libmkl_rt that records every call it receives.

Its shared C is recording_runtime.c; the functions themselves are generated from the
catalogue: one per runtime symbol the module binds, with the runtime's own signature.
The session compiles it with the system compiler (``build_recorder``); a test module
named ``recorded_*.py`` then runs under pytest in a fresh interpreter with the library
preloaded (``run_recorded``), so that the installed module binds to it in place of
the runtime, and reads the log through the same library with ctypes (``Recorder``,
the ``recorder`` fixture).
"""

from __future__ import annotations

import ctypes
import os
import struct
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

from vantrel.mkl._catalogue.c_types import Pointer, Record, function_declaration
from vantrel.mkl._catalogue.functions import (
    RECORDS,
    VML_ERROR_CALLBACK,
    offered_functions,
    vm_only_functions,
)

# lib's functions, then those only vm calls, which stand in for the runtime's as well.
FUNCTIONS = offered_functions() + vm_only_functions()
SYMBOLS = [f.runtime_symbol for f in FUNCTIONS]

ARRAY_ELEMENTS_RECORDED = 4  # callers pass arrays of at least this many elements
ARGUMENT_BYTES = 64  # room for ARRAY_ELEMENTS_RECORDED complex doubles
MAX_ARGUMENTS = 9
LOG_CAPACITY = 64
WRITTEN_BYTE = 0x5A  # what the recorder writes into every array it may write
LIBRARY_VARIABLE = "VANTREL_RECORDER_LIBRARY"

_FORMATS = {"int": "i", "unsigned int": "I", "long long": "q", "float": "f", "double": "d"}


def is_pointer_parameter(parameter) -> bool:
    return isinstance(parameter.c_type, Pointer) and parameter.c_type != VML_ERROR_CALLBACK


def elements_recorded(parameter) -> int:
    return ARRAY_ELEMENTS_RECORDED if parameter.role.array else 1


def _records_source() -> str:
    return "\n".join([record.c_definition() for record in RECORDS] +
                     [VML_ERROR_CALLBACK.c_typedef()])


def _function_source(index: int, function) -> str:
    body = ["    int errno_on_entry = errno;",
            f"    struct recorded_call *call = begin_call({index}, {len(function.params)}, "
            "errno_on_entry);"]
    written = []
    for i, p in enumerate(function.params):
        if is_pointer_parameter(p):
            size = f"{elements_recorded(p)} * sizeof *a{i}"
            body.append(f"    record_pointer(call, {i}, a{i}, {size});")
            if p.role.written:
                written.append(f"    write_array(a{i}, {size});")
        else:
            body.append(f"    record_value(call, {i}, &a{i}, sizeof a{i});")
    body += ["    wait_if_armed(call);", *written]
    result = function.result.declare()
    if function.result == VML_ERROR_CALLBACK:
        body.append(f"    return ({result})(uintptr_t)end_call();")
    elif result == "void":
        body.append("    end_call();")
    else:
        body.append(f"    return ({result})end_call();")
    head = function_declaration(function.result, function.runtime_symbol,
                                [(p.c_type, f"a{i}") for i, p in enumerate(function.params)])
    return f"{head} {{\n" + "\n".join(body) + "\n}"


RECORDER_CONSTANTS = {"ARGUMENT_BYTES": ARGUMENT_BYTES, "MAX_ARGUMENTS": MAX_ARGUMENTS,
                      "LOG_CAPACITY": LOG_CAPACITY, "WRITTEN_BYTE": WRITTEN_BYTE}


def recorded_functions_source() -> str:
    """The records the runtime shares and one recording function per runtime symbol."""
    parts = ["/* Generated from the catalogue by recording.py. */", _records_source()]
    parts += [_function_source(i, f) for i, f in enumerate(FUNCTIONS)]
    return "\n".join(parts) + "\n"


def build_recorder(directory: Path) -> Path:
    (directory / "recorded_functions.inc").write_text(recorded_functions_source())
    library = directory / "librecorder.so"
    compiler = os.environ.get("CC", "cc")
    defines = [f"-D{name}={value}" for name, value in RECORDER_CONSTANTS.items()]
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", "-Wall", "-Werror", "-pthread",
                    *defines, "-I", str(directory), "-o", str(library),
                    str(Path(__file__).with_name("recording_runtime.c"))],
                   check=True, capture_output=True)
    return library


def run_recorded(library: Path, test_module: Path, timeout: float = 600):
    """Runs the pytest module `test_module` in a fresh interpreter with the recorder
    preloaded; returns the completed process, whose exit status is pytest's."""
    environment = dict(os.environ)
    # After any library already preloaded (a sanitizer runtime must come first); the
    # recorder still comes before libmkl_rt and so takes its symbols.
    environment["LD_PRELOAD"] = " ".join(filter(None, [environment.get("LD_PRELOAD"),
                                                      str(library)]))
    environment[LIBRARY_VARIABLE] = str(library)
    # Python-level capture only: what a sanitizer or the C runtime writes to fd 2 before
    # the process dies must reach the report, not a capture file that dies with it.
    command = [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--no-header",
               "--tb=short", "-rfE", "--capture=sys", str(test_module)]
    return subprocess.run(command, env=environment, capture_output=True, text=True,
                          timeout=timeout)


# --- reading the log, inside the subprocess ---------------------------------------------


class _RecordedArgument(ctypes.Structure):
    _fields_ = [("address", ctypes.c_uint64), ("size", ctypes.c_uint32),
                ("bytes", ctypes.c_uint8 * ARGUMENT_BYTES)]


class _RecordedCall(ctypes.Structure):
    _fields_ = [("function", ctypes.c_int32), ("errno_on_entry", ctypes.c_int32),
                ("argument_count", ctypes.c_int32), ("released", ctypes.c_int32),
                ("arguments", _RecordedArgument * MAX_ARGUMENTS)]


def _element_format(c_type) -> str:
    if isinstance(c_type, Record):
        return "".join(_element_format(t) for _, t in c_type.fields)
    if c_type == VML_ERROR_CALLBACK:
        return "Q"
    return _FORMATS[c_type.spelling]


def _decode(c_type, raw: bytes) -> list:
    layout = "=" + _element_format(c_type)
    size = struct.calcsize(layout)
    values = []
    for start in range(0, len(raw) - size + 1, size):
        fields = struct.unpack(layout, raw[start:start + size])
        values.append(list(fields) if isinstance(c_type, Record) else fields[0])
    return values


@dataclass
class RecordedArgument:
    address: int | None  # None for an argument passed by value
    raw: str  # hex of the value's bytes, or of the first elements pointed to
    values: list  # decoded by the parameter's (element) type

    @property
    def value(self):
        return self.values[0]


@dataclass
class RecordedCall:
    symbol: str
    errno_on_entry: int
    released: int  # 1: released by the tests, 0: timed out, -1: never blocked
    arguments: list[RecordedArgument]


class Recorder:
    """The preloaded recorder, reached through ctypes on the already loaded library."""

    def __init__(self, library: str | None = None):
        self._library = ctypes.CDLL(library or os.environ[LIBRARY_VARIABLE])
        self._library.recorder_calls.restype = ctypes.POINTER(_RecordedCall)
        self._library.recorder_set_result.argtypes = [ctypes.c_uint64]

    def reset(self) -> None:
        self._library.recorder_reset()

    def call_count(self) -> int:
        return self._library.recorder_call_count()

    def calls(self) -> list[RecordedCall]:
        count = min(self.call_count(), LOG_CAPACITY)
        log = self._library.recorder_calls()
        return [self._decode_call(log[i]) for i in range(count)]

    def record(self, function, *arguments):
        """Calls `function` with the log emptied first; returns its result or None, the
        exception it raised or None, and the calls the runtime received."""
        self.reset()
        try:
            result, exception = function(*arguments), None
        except Exception as raised:  # the caller judges which
            result, exception = None, raised
        return result, exception, self.calls()

    def set_errno_on_return(self, value: int) -> None:
        self._library.recorder_set_errno_on_return(value)

    def set_touch_memory(self, touch: bool) -> None:
        self._library.recorder_set_touch_memory(int(touch))

    def set_result(self, value: int) -> None:
        self._library.recorder_set_result(value)

    def set_block_timeout(self, seconds: float) -> None:
        self._library.recorder_set_block_timeout_ms(int(seconds * 1000))

    def block_next_call(self) -> None:
        self._library.recorder_block_next_call()

    def is_blocked(self) -> bool:
        return bool(self._library.recorder_is_blocked())

    def release(self) -> None:
        self._library.recorder_release()

    @staticmethod
    def _decode_call(call: _RecordedCall) -> RecordedCall:
        function = FUNCTIONS[call.function]
        arguments = []
        for parameter, argument in zip(function.params, call.arguments[:call.argument_count]):
            raw = bytes(argument.bytes[:argument.size])
            if is_pointer_parameter(parameter):
                values = _decode(parameter.c_type.target, raw)
                arguments.append(RecordedArgument(argument.address, raw.hex(), values))
            else:
                arguments.append(RecordedArgument(None, raw.hex(),
                                                  _decode(parameter.c_type, raw)))
        return RecordedCall(function.runtime_symbol, call.errno_on_entry, call.released,
                            arguments)
