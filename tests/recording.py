"""A recording runtime: a stand-in for libmkl_rt that records every call it receives.

Its C source is generated from the catalogue: one function per runtime symbol the
module binds, with the runtime's own signature. Each records the errno it finds on
entry and every argument (values by their bytes, pointers by their address and the
first elements they point to), writes a known byte into the arrays it may write,
sets a chosen errno and returns a chosen result. The tests compile it with the
system compiler and preload it into a fresh interpreter, so that the installed
module binds to it in place of the runtime; the subprocess reads the log through
the same library with ctypes (``Recorder``).
"""

from __future__ import annotations

import ctypes
import json
import os
import struct
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

from vantrel.mkl._catalogue.c_types import Array, Pointer, Primitive, Record
from vantrel.mkl._catalogue.functions import RECORDS, VML_ERROR_CALLBACK, offered_functions

FUNCTIONS = offered_functions()
SYMBOLS = [f.runtime_symbol for f in FUNCTIONS]

ARRAY_ELEMENTS_RECORDED = 4  # callers pass arrays of at least this many elements
ARGUMENT_BYTES = 64  # room for ARRAY_ELEMENTS_RECORDED complex doubles
MAX_ARGUMENTS = 9
LOG_CAPACITY = 64
WRITTEN_BYTE = 0x5A  # what the recorder writes into every array it may write
ARRAY_ROLES = {"input", "output", "real_input", "real_output", "indexes", "mask"}
WRITTEN_ROLES = {"output", "real_output"}
LIBRARY_VARIABLE = "VANTREL_RECORDER_LIBRARY"

_FORMATS = {"int": "i", "unsigned int": "I", "long long": "q", "float": "f", "double": "d"}


def c_type_name(c_type) -> str:
    if c_type == VML_ERROR_CALLBACK:
        return "VMLErrorCallBack"
    if isinstance(c_type, Pointer):
        return f"{c_type_name(c_type.target)}{' const' if c_type.const else ''} *"
    if isinstance(c_type, (Primitive, Record)):
        return c_type.spelling
    raise TypeError(c_type)


def c_declaration(c_type, name: str) -> str:
    if isinstance(c_type, Array):
        return f"{c_type_name(c_type.item)} {name}[{c_type.length}]"
    return f"{c_type_name(c_type)} {name}"


def is_pointer_parameter(parameter) -> bool:
    return isinstance(parameter.c_type, Pointer) and parameter.c_type != VML_ERROR_CALLBACK


def elements_recorded(parameter) -> int:
    return ARRAY_ELEMENTS_RECORDED if parameter.role.name in ARRAY_ROLES else 1


_RECORDER_CORE = r"""
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

struct recorded_argument {
    uint64_t address;
    uint32_t size;
    uint8_t bytes[ARGUMENT_BYTES];
};

struct recorded_call {
    int32_t function;
    int32_t errno_on_entry;
    int32_t argument_count;
    int32_t released;
    struct recorded_argument arguments[MAX_ARGUMENTS];
};

static struct recorded_call calls[LOG_CAPACITY + 1];  /* the last one takes the overflow */
static int call_count;
static int errno_on_return;
static uint64_t result;
static int block_timeout_ms = 5000;
static int block_armed, blocked, released;
static pthread_mutex_t gate = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t gate_changed = PTHREAD_COND_INITIALIZER;

int recorder_call_count(void) { return call_count; }
const struct recorded_call *recorder_calls(void) { return calls; }
void recorder_reset(void) { call_count = 0; memset(calls, 0, sizeof calls); }
void recorder_set_errno_on_return(int value) { errno_on_return = value; }
void recorder_set_result(uint64_t value) { result = value; }
/* Whether calls read and write the memory behind their pointers (by default they do):
   hostile callers pass arrays the recorder's fixed reach may not fit. */
static int touch_memory = 1;
void recorder_set_touch_memory(int value) { touch_memory = value; }
void recorder_set_block_timeout_ms(int value) { block_timeout_ms = value; }

void recorder_block_next_call(void) {
    pthread_mutex_lock(&gate);
    block_armed = 1;
    released = 0;
    pthread_mutex_unlock(&gate);
}

int recorder_is_blocked(void) {
    pthread_mutex_lock(&gate);
    int value = blocked;
    pthread_mutex_unlock(&gate);
    return value;
}

void recorder_release(void) {
    pthread_mutex_lock(&gate);
    released = 1;
    pthread_cond_broadcast(&gate_changed);
    pthread_mutex_unlock(&gate);
}

static struct recorded_call *begin_call(int function, int argument_count, int errno_on_entry) {
    int index = __atomic_fetch_add(&call_count, 1, __ATOMIC_SEQ_CST);
    struct recorded_call *call = &calls[index < LOG_CAPACITY ? index : LOG_CAPACITY];
    call->function = function;
    call->errno_on_entry = errno_on_entry;
    call->argument_count = argument_count;
    call->released = -1;
    return call;
}

static void record_value(struct recorded_call *call, int i, const void *value, size_t size) {
    call->arguments[i].address = 0;
    call->arguments[i].size = (uint32_t)size;
    memcpy(call->arguments[i].bytes, value, size);
}

static void record_pointer(struct recorded_call *call, int i, const void *pointer, size_t size) {
    call->arguments[i].address = (uint64_t)(uintptr_t)pointer;
    call->arguments[i].size = pointer && touch_memory ? (uint32_t)size : 0;
    if (pointer && touch_memory) memcpy(call->arguments[i].bytes, pointer, size);
}

static void write_array(void *pointer, size_t size) {
    if (pointer && touch_memory) memset(pointer, WRITTEN_BYTE, size);
}

/* Waits, if armed, until the tests release the call or the timeout passes; then sets
   the chosen errno as the very last thing before the caller sees the return. */
static uint64_t end_call(struct recorded_call *call) {
    pthread_mutex_lock(&gate);
    if (block_armed) {
        block_armed = 0;
        blocked = 1;
        struct timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += block_timeout_ms / 1000;
        deadline.tv_nsec += (long)(block_timeout_ms % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        while (!released) {
            if (pthread_cond_timedwait(&gate_changed, &gate, &deadline) == ETIMEDOUT) break;
        }
        call->released = released;
        blocked = 0;
    }
    pthread_mutex_unlock(&gate);
    uint64_t value = result;
    errno = errno_on_return;
    return value;
}
"""


def _records_source() -> str:
    lines = []
    for record in RECORDS:
        fields = " ".join(f"{c_declaration(t, name)};" for name, t in record.fields)
        lines.append(f"typedef struct {record.tag or ''} {{ {fields} }} {record.type_name};")
    lines.append("typedef int (*VMLErrorCallBack)(DefVmlErrorContext *);")
    return "\n".join(lines)


def _function_source(index: int, function) -> str:
    params = ", ".join(c_declaration(p.c_type, f"a{i}") for i, p in enumerate(function.params))
    body = ["    int errno_on_entry = errno;",
            f"    struct recorded_call *call = begin_call({index}, {len(function.params)}, "
            "errno_on_entry);"]
    for i, p in enumerate(function.params):
        if is_pointer_parameter(p):
            size = f"{elements_recorded(p)} * sizeof *a{i}"
            body.append(f"    record_pointer(call, {i}, a{i}, {size});")
            if p.role.name in WRITTEN_ROLES:
                body.append(f"    write_array(a{i}, {size});")
        else:
            body.append(f"    record_value(call, {i}, &a{i}, sizeof a{i});")
    result = c_type_name(function.result)
    if function.result == VML_ERROR_CALLBACK:
        body.append("    return (VMLErrorCallBack)(uintptr_t)end_call(call);")
    elif result == "void":
        body.append("    end_call(call);")
    else:
        body.append(f"    return ({result})end_call(call);")
    return f"{result} {function.runtime_symbol}({params or 'void'}) {{\n" + "\n".join(body) + "\n}"


def recorder_source() -> str:
    constants = {"ARGUMENT_BYTES": ARGUMENT_BYTES, "MAX_ARGUMENTS": MAX_ARGUMENTS,
                 "LOG_CAPACITY": LOG_CAPACITY, "WRITTEN_BYTE": WRITTEN_BYTE}
    parts = ["/* A recording stand-in for the runtime, generated by the tests. */"]
    parts += [f"#define {name} {value}" for name, value in constants.items()]
    parts += [_RECORDER_CORE, _records_source()]
    parts += [_function_source(i, f) for i, f in enumerate(FUNCTIONS)]
    return "\n".join(parts) + "\n"


def build_recorder(directory: Path) -> Path:
    source = directory / "recorder.c"
    library = directory / "librecorder.so"
    source.write_text(recorder_source())
    compiler = os.environ.get("CC", "cc")
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", "-Wall", "-Werror", "-pthread",
                    "-o", str(library), str(source)], check=True, capture_output=True)
    return library


def run_recorded(library: Path, *arguments: str, timeout: float = 300) -> object:
    """Runs Python with the recorder preloaded and returns what it prints, as JSON.

    `arguments` are the interpreter's: a script and its arguments, or "-c" and code. The
    tests folder is on the path, so the code can import this module and use Recorder.
    """
    environment = dict(os.environ)
    # After any library already preloaded (a sanitizer runtime must come first); the
    # recorder still comes before libmkl_rt and so takes its symbols.
    environment["LD_PRELOAD"] = " ".join(filter(None, [environment.get("LD_PRELOAD"),
                                                      str(library)]))
    environment["PYTHONPATH"] = os.pathsep.join(filter(None, [
        str(Path(__file__).parent), environment.get("PYTHONPATH")]))
    environment[LIBRARY_VARIABLE] = str(library)
    completed = subprocess.run([sys.executable, *arguments], env=environment,
                               capture_output=True, text=True, timeout=timeout)
    if completed.returncode != 0:
        raise RuntimeError(f"{' '.join(arguments)[:200]} failed:\n{completed.stderr}")
    return json.loads(completed.stdout)


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
