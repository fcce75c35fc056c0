"""A callback set through the module lives as long as the runtime can call it, whatever
thread or interpreter set it: the runtime keeps one per OS thread. Each case runs in a
fresh interpreter, since on failure the runtime jumps into freed code."""

import os
import subprocess

import pytest

from isolated import report, run_isolated
from runtime_values import ERRMODE_CALLBACK, HA

PREAMBLE = """
    import ctypes, gc, weakref
    from vantrel.mkl.tessivec import ffi, lib
    from vantrel.mkl._catalogue.mode_values import MODE_VALUES
    CALLBACK_MODE = MODE_VALUES["HA"] | MODE_VALUES["ERRMODE_CALLBACK"]
    calls, wrong_calls = [], []

    def counting_callback():
        def on_error(context):
            calls.append((context.iCode, context.dbA1, ffi.string(context.cFuncName)))
            return 0
        return ffi.callback("VMLErrorCallBack", on_error)

    def decoys():
        # Fresh callbacks and memory take the place of freed ones: a freed callback the
        # runtime still holds would run one of these, or crash.
        gc.collect()
        return ([ffi.callback("VMLErrorCallBack", lambda c: wrong_calls.append(1) or 0)
                 for _ in range(256)] + [ffi.new("char[]", 1 << 16) for _ in range(4)])

    def domain_error():
        lib.vdLn(1, [-1.0], ffi.new("double[1]"))
"""


@pytest.fixture(scope="module")
def c_threads(tmp_path_factory):
    """tests/c_threads.c, compiled with the system compiler as the recorder is."""
    library = tmp_path_factory.mktemp("c_threads") / "libc_threads.so"
    source = os.path.join(os.path.dirname(__file__), "c_threads.c")
    subprocess.run([os.environ.get("CC", "cc"), "-shared", "-fPIC", "-O1", "-Wall", "-Werror",
                    "-pthread", "-o", str(library), source], check=True, capture_output=True)
    return str(library)


def test_a_callback_set_on_a_thread_python_did_not_create_is_kept_for_that_thread(c_threads):
    """Each step runs through a thread state of its own that ends when it returns, while
    the OS thread and its runtime state go on; once the thread has ended, the module lets
    go of the callback."""
    run = run_isolated(PREAMBLE + f"""
    helper = ctypes.CDLL({c_threads!r})
    kept = []

    def set_callback():
        lib.vmlSetMode(CALLBACK_MODE)
        callback = counting_callback()
        kept.append(weakref.ref(callback))
        lib.vmlSetErrorCallBack(callback)

    def make_decoys():
        kept.append(decoys())

    Step = ctypes.CFUNCTYPE(None)
    steps = (Step * 3)(Step(set_callback), Step(make_decoys), Step(domain_error))
    assert helper.run_on_c_thread(steps, 3) == 0
    lib.vmlGetErrorCallBack()  # the next exchange drops what the ended thread held
    gc.collect()
    print("calls", calls, "wrong", wrong_calls, "released", kept[0]() is None)
    """)
    assert run.returncode == 0, report(run)
    assert "calls [(1, -1.0, b'vdLn')] wrong [] released True" in run.stdout, report(run)


SUBINTERPRETER = """
    try:
        import _interpreters as interpreters  # Python 3.13
        interpreter = interpreters.create("legacy")
    except ImportError:
        import _xxsubinterpreters as interpreters
        try:
            interpreter = interpreters.create(isolated=False)  # Python 3.12
        except TypeError:
            interpreter = interpreters.create()
    interpreters.run_string(interpreter, '''if True:
        try:
            import {module}
            from vantrel.mkl.tessivec import ffi, lib
            lib.vmlSetMode({callback_mode})
            lib.vmlSetErrorCallBack(ffi.callback("VMLErrorCallBack", lambda c: 0))
            print("imported")
        except ImportError as error:
            print("refused:", error)
    ''')
    interpreters.destroy(interpreter)
"""


@pytest.mark.parametrize("module", ["vantrel.mkl.tessivec", "vantrel.mkl.vm"])
@pytest.mark.parametrize("main_first", [True, False], ids=["main-first", "subinterpreter-first"])
def test_a_subinterpreter_cannot_import_the_extensions(module, main_first):
    """Imported first in the main interpreter, an extension would be shared with the
    subinterpreter without its initialization running there again."""
    first = PREAMBLE if main_first else "\n"
    then = "" if main_first else PREAMBLE
    inner = SUBINTERPRETER.format(module=module, callback_mode=HA | ERRMODE_CALLBACK)
    run = run_isolated(first + inner + then + """
    domain_error()
    print("survived")
    """)
    assert run.returncode == 0, report(run)
    assert "refused:" in run.stdout and "subinterpreter" in run.stdout, report(run)
    assert "survived" in run.stdout


def test_the_main_threads_callback_is_cleared_when_the_interpreter_is_finalized(c_threads):
    """The runtime may meet an error on the main thread after the interpreter is gone
    (here in a C exit handler): it then calls no callback."""
    run = run_isolated(PREAMBLE + f"""
    helper = ctypes.CDLL({c_threads!r})
    lib.vmlSetMode(CALLBACK_MODE)
    lib.vmlSetErrorCallBack(counting_callback())
    ln = ffi.cast("void (*)(int, const double *, double *)", ffi.addressof(lib, "vdLn"))
    helper.domain_error_at_exit(ctypes.c_void_p(int(ffi.cast("uintptr_t", ln))))
    domain_error()
    print("calls", calls)
    """, timeout=60)
    assert run.returncode == 0, report(run)
    assert "calls [(1, -1.0, b'vdLn')]" in run.stdout
