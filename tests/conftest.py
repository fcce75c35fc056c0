import pytest
from vantrel.mkl._catalogue.functions import offered_functions

OFFERED = offered_functions()
BY_NAME = {f.name: f for f in OFFERED}
MIXED_NAMES = sorted({f.mixed_name for f in OFFERED})


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


def pytest_report_header(config):
    from code_path import cpu_model, kernel_libraries, selection
    return [f"processor: {cpu_model()}",
            f"runtime kernels: {', '.join(kernel_libraries())} ({selection()})"]
