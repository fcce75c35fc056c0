import os

import pytest
from vantrel.mkl._catalogue.functions import offered_functions

OFFERED = offered_functions()
BY_NAME = {f.name: f for f in OFFERED}
MIXED_NAMES = sorted({f.mixed_name for f in OFFERED})


def wrapper_shape(function):
    """What a wrapper's conversions depend on: its C type, its parameters' roles and its
    effect on the error callback; the name and runtime symbol are all the rest."""
    return (function.function_type, tuple(p.role for p in function.params),
            function.callback_effect)


# One function of each shape, for sweeps where every function of a shape runs the same
# conversions.
ONE_PER_SHAPE = list({wrapper_shape(f): f for f in OFFERED}.values())


@pytest.fixture(scope="session")
def ffi():
    from vantrel.mkl.tessivec import ffi
    return ffi


@pytest.fixture(scope="session")
def lib():
    from vantrel.mkl.tessivec import lib
    return lib


@pytest.fixture
def clean_runtime_state(lib):
    """Restores the calling thread's mode, error status and callback after a test."""
    mode = lib.vmlGetMode()
    callback = lib.vmlGetErrorCallBack()
    lib.vmlClearErrStatus()
    yield
    # Setting a callback changes the mode's ERRMODE_CALLBACK bit: the mode goes last.
    lib.vmlSetErrorCallBack(callback)
    lib.vmlSetMode(mode)
    lib.vmlClearErrStatus()


@pytest.fixture(scope="session")
def recorder_library(tmp_path_factory):
    """The recording runtime, compiled for this session; see recording.py."""
    from recording import build_recorder
    return build_recorder(tmp_path_factory.mktemp("recorder"))


@pytest.fixture(scope="session")
def recorder(lib):
    """The preloaded recording runtime, inside a run of a recorded_*.py module."""
    from recording import LIBRARY_VARIABLE, Recorder
    if LIBRARY_VARIABLE not in os.environ:
        pytest.fail("recorded_*.py modules run under test_recorded_runs.py, which preloads "
                    "the recording runtime")
    recorder = Recorder()
    recorder.set_result(0x1234)
    bound = lib.vmlGetMode()
    recorder.set_result(0)
    assert bound == 0x1234, "lib is bound to the real runtime, not the recorder"
    return recorder


def pytest_report_header(config):
    from code_path import cpu_model, kernel_libraries, selection, threading_layer
    return [f"processor: {cpu_model()}",
            f"runtime kernels: {', '.join(kernel_libraries())} ({selection()}), "
            f"threading layer: {threading_layer()}"]
