"""What the runtime receives from vm's ufuncs, seen by the recording runtime: the m form
of the loop's precision, once for the whole run, with the ufunc's accuracy (or 0, the
thread's) and the error mode that leaves the thread's callback and stderr alone."""

from pathlib import Path

import pytest
from vantrel.mkl._catalogue.mode_values import MODE_VALUES
from vantrel.mkl._catalogue.vm_interface import vm_functions

from recording import run_recorded

ACCURACIES = {"thread": 0, "la": MODE_VALUES["LA"], "ha": MODE_VALUES["HA"],
              "ep": MODE_VALUES["EP"]}
CASES = [pytest.param(f, loop, id=f"{f.name}-{loop.letter}")
         for f in vm_functions() if not f.is_pack for loop in f.loops]


@pytest.fixture(scope="module")
def observed(recorder_library):
    return run_recorded(recorder_library, str(Path(__file__).with_name("vm_recording_driver.py")))


@pytest.mark.parametrize("accuracy", ACCURACIES)
@pytest.mark.parametrize("function, loop", CASES)
def test_each_ufunc_calls_the_m_form_of_its_accuracy(observed, function, loop, accuracy):
    case = observed[f"{function.name}-{loop.letter}-{accuracy}"]
    assert case["error"] is None
    assert case["symbols"] == [loop.mode_runtime_name]
    assert case["counts"] == [4]
    (mode,) = case["modes"]
    assert mode & MODE_VALUES["ACCURACY_MASK"] == ACCURACIES[accuracy]
    assert mode & MODE_VALUES["FTZDAZ_MASK"] == 0  # the thread's FTZ/DAZ choice
    assert mode & MODE_VALUES["ERRMODE_MASK"] == MODE_VALUES["ERRMODE_IGNORE"]
    assert mode & ~(MODE_VALUES["ACCURACY_MASK"] | MODE_VALUES["ERRMODE_MASK"]) == 0
