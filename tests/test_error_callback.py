"""The error callback set through the module lives as long as the runtime may call it."""

import gc
import sys
import threading
import weakref

import pytest

HIGH_ACCURACY = 0x2
ERRMODE_CALLBACK = 0x1000
STATUS_ERRDOM = 1


@pytest.fixture
def callback_mode(lib, clean_runtime_state):
    lib.vmlSetMode(HIGH_ACCURACY | ERRMODE_CALLBACK)


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
    thread_callback = []

    def in_thread():
        lib.vmlSetMode(HIGH_ACCURACY | ERRMODE_CALLBACK)
        callback = counting_callback(ffi, thread_calls)
        thread_callback.append(weakref.ref(callback))
        lib.vmlSetErrorCallBack(callback)
        del callback
        gc.collect()
        domain_error(ffi, lib)

    thread = threading.Thread(target=in_thread)
    thread.start()
    thread.join()
    gc.collect()
    assert len(thread_calls) == 1 and thread_callback[0]() is None  # released with its thread
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
