"""The runtime's mode, error status and error callback, in every spelling, as the real
runtime keeps them: setters and clearing functions return the previous value, math
functions report their errors there, and each thread has its own."""

import errno
import threading

import pytest
from vantrel.mkl._catalogue.functions import spell

from runtime_values import (
    EP,
    ERRMODE_CALLBACK,
    ERRMODE_DEFAULT,
    ERRMODE_ERRNO,
    ERRMODE_IGNORE,
    HA,
    LA,
    STATUS_ACCURACYWARNING,
    STATUS_BADSIZE,
    STATUS_ERRDOM,
    STATUS_OK,
    STATUS_OVERFLOW,
    STATUS_SING,
    STATUS_UNDERFLOW,
)
from threads import on_a_thread_of_its_own

SPELLINGS = ["value", "lower", "upper"]


class Services:
    """The eight service functions in one spelling, taking plain values."""

    def __init__(self, ffi, lib, spelling):
        self.ffi, self.lib, self.spelling = ffi, lib, spelling

    def __getattr__(self, operation):
        return getattr(self.lib, spell("vml" + operation, self.spelling))

    def set_mode(self, mode):
        by_ref = self.spelling != "value"
        return self.SetMode(self.ffi.new("unsigned int *", mode) if by_ref else mode)

    def set_status(self, status):
        return self.SetErrStatus([status] if self.spelling != "value" else status)


@pytest.mark.parametrize("spelling", SPELLINGS)
def test_mode_round_trips(ffi, lib, clean_runtime_state, spelling):
    services = Services(ffi, lib, spelling)
    for mode in (LA | ERRMODE_ERRNO, EP | ERRMODE_IGNORE, HA | ERRMODE_CALLBACK | ERRMODE_ERRNO,
                 HA | ERRMODE_DEFAULT):
        before = services.GetMode()
        assert services.set_mode(mode) == before
        assert services.GetMode() == mode
    # A field given as zero keeps its value: only the accuracy changes here.
    assert services.set_mode(LA) == HA | ERRMODE_DEFAULT
    assert services.GetMode() == LA | ERRMODE_DEFAULT


@pytest.mark.parametrize("spelling", SPELLINGS)
def test_status_round_trips(ffi, lib, clean_runtime_state, spelling):
    services = Services(ffi, lib, spelling)
    previous = services.GetErrStatus()
    # The defined codes and any other int: the runtime keeps what it is given.
    for status in (STATUS_OVERFLOW, STATUS_BADSIZE, 2**31 - 1, -2**31, STATUS_OK, 7):
        assert services.set_status(status) == previous
        assert services.GetErrStatus() == status
        previous = status
    assert services.ClearErrStatus() == 7
    assert services.GetErrStatus() == STATUS_OK
    assert services.ClearErrStatus() == STATUS_OK


@pytest.mark.parametrize("name, values, status, error_number", [
    ("vdLn", [-1.0], STATUS_ERRDOM, errno.EDOM),
    ("vsSqrt", [-1.0], STATUS_ERRDOM, errno.EDOM),
    ("vdLn", [0.0], STATUS_SING, errno.ERANGE),
    ("vdExp", [1000.0], STATUS_OVERFLOW, errno.ERANGE),
    ("vdExp", [-1000.0], STATUS_UNDERFLOW, errno.ERANGE),
    ("vdLn", [1.0, -1.0, 0.0], STATUS_SING, errno.ERANGE),  # the last error stands
])
def test_math_errors_set_the_status_and_errno(ffi, lib, clean_runtime_state, name, values,
                                              status, error_number):
    element = "float" if name.startswith("vs") else "double"
    lib.vmlSetMode(HA | ERRMODE_ERRNO)
    ffi.errno = 0
    getattr(lib, name)(len(values), ffi.new(f"{element}[]", values),
                       ffi.new(f"{element}[]", len(values)))
    assert lib.vmlGetErrStatus() == status
    assert ffi.errno == error_number


def test_an_accuracy_warning_is_a_status_too(ffi, lib, clean_runtime_state):
    # Where the runtime computes LinearFrac in another accuracy than the one asked for,
    # it says so with a warning status, even with errors ignored; which accuracies a
    # processor's code path offers is the runtime's choice.
    a, r = ffi.new("double[]", [1.0, 2.0]), ffi.new("double[2]")
    for accuracy in (HA, LA, EP):
        lib.vmdLinearFrac(2, a, a, 1.0, 0.5, 2.0, 1.0, r, accuracy | ERRMODE_IGNORE)
        status = lib.vmlGetErrStatus()
        assert status in (STATUS_OK, STATUS_ACCURACYWARNING)
        assert lib.vmlClearErrStatus() == status
        assert lib.vmlGetErrStatus() == STATUS_OK
        assert list(r) == pytest.approx([0.5, 2.5 / 5.0], rel=2.0 ** -26)  # EP's bound


class CallbackLog:
    """A Python error callback that records what the runtime tells it."""

    def __init__(self, ffi):
        self.contexts = []
        self.pointer = ffi.callback("VMLErrorCallBack", self._called)
        self.ffi = ffi

    def _called(self, context):
        c = context[0]
        self.contexts.append({"code": c.iCode, "index": c.iIndex, "a1": c.dbA1,
                              "name": self.ffi.string(c.cFuncName).decode(),
                              "name_length": c.iFuncNameLen,
                              "thread": threading.get_ident()})
        return 0


def domain_errors(ffi, lib, name, mode=None):
    letter = name[2] if name.startswith("vm") else name[1]
    element = "float" if letter == "s" else "double"
    values = ffi.new(f"{element}[]", [1.0, -2.0, 3.0, -4.5])
    results = ffi.new(f"{element}[4]")
    getattr(lib, name)(4, values, results, *(() if mode is None else (mode,)))


@pytest.mark.parametrize("spelling", SPELLINGS)
def test_the_error_callback_sees_each_domain_error(ffi, lib, clean_runtime_state, spelling):
    services = Services(ffi, lib, spelling)
    log = CallbackLog(ffi)
    previous = services.SetErrorCallBack(log.pointer)
    assert ffi.typeof(previous) is ffi.typeof("VMLErrorCallBack")
    assert services.GetErrorCallBack() == log.pointer
    lib.vmlSetMode(HA | ERRMODE_CALLBACK)
    domain_errors(ffi, lib, "vdLn")
    domain_errors(ffi, lib, "vsLn")
    me = threading.get_ident()
    assert log.contexts == [
        {"code": STATUS_ERRDOM, "index": 1, "a1": -2.0, "name": "vdLn", "name_length": 4,
         "thread": me},
        {"code": STATUS_ERRDOM, "index": 3, "a1": -4.5, "name": "vdLn", "name_length": 4,
         "thread": me},
        {"code": STATUS_ERRDOM, "index": 1, "a1": -2.0, "name": "vsLn", "name_length": 4,
         "thread": me},
        {"code": STATUS_ERRDOM, "index": 3, "a1": -4.5, "name": "vsLn", "name_length": 4,
         "thread": me},
    ]
    assert services.ClearErrorCallBack() == log.pointer
    cleared = services.GetErrorCallBack()
    assert ffi.typeof(cleared) is ffi.typeof("VMLErrorCallBack") and cleared == ffi.NULL
    domain_errors(ffi, lib, "vdLn")
    assert len(log.contexts) == 4, "a cleared callback is not called"


def test_the_mode_argument_decides_whether_the_callback_is_called(ffi, lib,
                                                                  clean_runtime_state):
    log = CallbackLog(ffi)
    lib.vmlSetErrorCallBack(log.pointer)
    lib.vmlSetMode(HA | ERRMODE_IGNORE)
    domain_errors(ffi, lib, "vmdLn", HA | ERRMODE_CALLBACK)
    assert [c["index"] for c in log.contexts] == [1, 3]
    lib.vmlSetMode(HA | ERRMODE_CALLBACK)
    domain_errors(ffi, lib, "vmdLn", HA | ERRMODE_IGNORE)
    assert len(log.contexts) == 2


def test_mode_status_and_callback_belong_to_the_thread(ffi, lib, clean_runtime_state):
    mine = CallbackLog(ffi)
    lib.vmlSetMode(LA | ERRMODE_CALLBACK)
    lib.vmlSetErrStatus(STATUS_OVERFLOW)
    lib.vmlSetErrorCallBack(mine.pointer)
    theirs = CallbackLog(ffi)

    def other_thread():
        seen = {"mode": lib.vmlGetMode(), "status": lib.vmlGetErrStatus(),
                "callback": lib.vmlGetErrorCallBack() == ffi.NULL}
        lib.vmlSetMode(EP | ERRMODE_CALLBACK)
        domain_errors(ffi, lib, "vdLn")  # no callback set in this thread yet
        seen["calls_without_own_callback"] = len(mine.contexts) + len(theirs.contexts)
        lib.vmlSetErrorCallBack(theirs.pointer)
        domain_errors(ffi, lib, "vdLn")
        lib.vmlSetErrStatus(STATUS_SING)
        seen["ident"] = threading.get_ident()
        return seen

    seen = on_a_thread_of_its_own(other_thread)
    assert seen["mode"] == HA | ERRMODE_DEFAULT, "a new thread starts with the default mode"
    assert seen["status"] == STATUS_OK and seen["callback"]
    assert seen["calls_without_own_callback"] == 0
    assert [(c["index"], c["thread"]) for c in theirs.contexts] == [(1, seen["ident"]),
                                                                   (3, seen["ident"])]
    assert mine.contexts == []
    assert lib.vmlGetMode() == LA | ERRMODE_CALLBACK
    assert lib.vmlGetErrStatus() == STATUS_OVERFLOW
    assert lib.vmlGetErrorCallBack() == mine.pointer
