"""The error callback set through the module lives as long as the runtime may call it."""

import gc
import sys
import weakref

import pytest

from runtime_values import ERRMODE_CALLBACK, HA, STATUS_ERRDOM
from threads import on_a_thread_of_its_own


@pytest.fixture
def callback_mode(lib, clean_runtime_state):
    lib.vmlSetMode(HA | ERRMODE_CALLBACK)


def domain_error(ffi, lib):
    lib.vdLn(1, ffi.new("double[]", [-1.0]), ffi.new("double[1]"))


def counting_callback(ffi, calls):
    def on_error(context):
        calls.append((context.iCode, context.dbA1, ffi.string(context.cFuncName)))
        return 0
    return ffi.callback("VMLErrorCallBack", on_error)


@pytest.mark.parametrize("setter", ["vmlSetErrorCallBack", "vmlseterrorcallback",
                                    "VMLSETERRORCALLBACK"])
def test_a_callback_without_other_references_still_runs(ffi, lib, callback_mode, setter):
    calls = []
    getattr(lib, setter)(counting_callback(ffi, calls))
    gc.collect()
    ffi.new("char[]", 1 << 16)  # reuse freed memory, if any was freed
    domain_error(ffi, lib)
    assert calls == [(STATUS_ERRDOM, -1.0, b"vdLn")]


@pytest.mark.parametrize("release", [
    lambda ffi, lib: lib.vmlSetErrorCallBack(ffi.callback("VMLErrorCallBack", lambda c: 0)),
    lambda ffi, lib: lib.vmlSetErrorCallBack(ffi.NULL),
    lambda ffi, lib: lib.vmlClearErrorCallBack(),
    lambda ffi, lib: lib.VMLCLEARERRORCALLBACK(),
])
def test_replacing_or_clearing_releases_the_callback(ffi, lib, clean_runtime_state, release):
    callback = counting_callback(ffi, [])
    lib.vmlseterrorcallback(callback)
    gone = weakref.ref(callback)
    del callback
    gc.collect()
    assert gone() is not None
    release(ffi, lib)
    gc.collect()
    assert gone() is None


def test_each_thread_keeps_its_own_callback(ffi, lib, callback_mode):
    main_calls, thread_calls = [], []
    lib.vmlSetErrorCallBack(counting_callback(ffi, main_calls))

    def in_thread():
        lib.vmlSetMode(HA | ERRMODE_CALLBACK)
        callback = counting_callback(ffi, thread_calls)
        gone = weakref.ref(callback)
        lib.vmlSetErrorCallBack(callback)
        del callback
        gc.collect()
        domain_error(ffi, lib)
        return gone

    gone = on_a_thread_of_its_own(in_thread)
    gc.collect()
    assert len(thread_calls) == 1 and gone() is None  # released with its thread
    domain_error(ffi, lib)
    assert len(main_calls) == 1


def test_a_raising_callback_does_not_stop_the_process(ffi, lib, callback_mode, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda report: reported.append(report.exc_value))

    def failing(context):
        raise RuntimeError("callback failed")

    lib.vmlSetErrorCallBack(ffi.callback("VMLErrorCallBack", failing))
    r = ffi.new("double[1]")
    lib.vdLn(1, ffi.new("double[]", [-1.0]), r)
    assert lib.vmlGetErrStatus() == STATUS_ERRDOM
    assert [str(e) for e in reported] == ["callback failed"]


def decoys(ffi, calls):
    """Fresh callbacks, which take the code memory of freed ones, and fresh memory: a
    freed callback the runtime still holds would run one of these, or crash."""
    gc.collect()
    made = [ffi.callback("VMLErrorCallBack", lambda context: calls.append("decoy") or 0)
            for _ in range(256)]
    return made + [ffi.new("char[]", 1 << 16) for _ in range(4)]


def test_save_and_restore_keeps_the_saved_callback(ffi, lib, callback_mode):
    first_calls, wrong_calls = [], []
    lib.vmlSetErrorCallBack(counting_callback(ffi, first_calls))
    previous = lib.vmlSetErrorCallBack(counting_callback(ffi, []))
    lib.vmlSetErrorCallBack(previous)
    del previous
    reused = decoys(ffi, wrong_calls)
    domain_error(ffi, lib)
    assert (first_calls, wrong_calls) == ([(STATUS_ERRDOM, -1.0, b"vdLn")], [])
    del reused


@pytest.mark.parametrize("cast", ["VMLErrorCallBack", "void *"])
@pytest.mark.parametrize("setter", ["vmlSetErrorCallBack", "VMLSETERRORCALLBACK"])
def test_a_cast_of_a_callback_keeps_the_callback(ffi, lib, callback_mode, cast, setter):
    calls, wrong_calls = [], []
    callback = counting_callback(ffi, calls)
    getattr(lib, setter)(ffi.cast(cast, callback))
    del callback
    reused = decoys(ffi, wrong_calls)
    domain_error(ffi, lib)
    assert (calls, wrong_calls) == ([(STATUS_ERRDOM, -1.0, b"vdLn")], [])
    del reused


@pytest.mark.parametrize("take", [
    lambda ffi, lib: lib.vmlGetErrorCallBack(),
    lambda ffi, lib: lib.vmlSetErrorCallBack(ffi.NULL),
    lambda ffi, lib: lib.vmlClearErrorCallBack(),
    lambda ffi, lib: lib.VMLCLEARERRORCALLBACK(),
])
def test_a_returned_callback_stays_callable_after_it_is_replaced(ffi, lib, clean_runtime_state,
                                                                 take):
    calls, wrong_calls = [], []
    lib.vmlSetErrorCallBack(counting_callback(ffi, calls))
    returned = take(ffi, lib)
    lib.vmlClearErrorCallBack()
    reused = decoys(ffi, wrong_calls)
    context = ffi.new("DefVmlErrorContext *", {"iCode": STATUS_ERRDOM, "dbA1": -2.0})
    assert returned(context) == 0
    assert (calls, wrong_calls) == ([(STATUS_ERRDOM, -2.0, b"")], [])
    del reused


def test_a_native_function_pointer_passes_as_c_would(ffi, lib, clean_runtime_state):
    native = ffi.cast("VMLErrorCallBack", 0x1000)  # no callback object lives there
    lib.vmlSetErrorCallBack(native)
    returned = lib.vmlGetErrorCallBack()
    assert returned == native and ffi.typeof(returned) == ffi.typeof("VMLErrorCallBack")
    lib.vmlClearErrorCallBack()
