"""What the runtime receives from vm's ufuncs, seen by the recording runtime: the m form
of the loop's precision, once for the whole run, with the ufunc's accuracy (or 0, the
thread's) and an error mode that leaves the thread's callback and stderr alone.

Runs only with the recording runtime preloaded (test_recorded_runs.py)."""

import numpy as np
import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue.mode_values import MODE_VALUES
from vantrel.mkl._catalogue.vm_interface import vm_functions

N = 4  # the recorder reads and writes this many elements of each array
ACCURACIES = {"thread": 0, "la": MODE_VALUES["LA"], "ha": MODE_VALUES["HA"],
              "ep": MODE_VALUES["EP"]}
CASES = [pytest.param(f, loop, id=f"{f.name}-{loop.letter}")
         for f in vm_functions() if not f.is_pack for loop in f.loops]


def ufunc_arguments(function, loop):
    """Arrays for the array operands; of the scalar operands the first as an array and
    the others as values, so that both reach the loop."""
    arrays = [np.ones(N, loop.input_dtype) for p in function.positional if p.role.array]
    scalars = [np.ones(N, loop.input_dtype) for p in function.positional if not p.role.array]
    return arrays + scalars[:1] + [s[0] for s in scalars[1:]]


@pytest.mark.parametrize("accuracy", ACCURACIES)
@pytest.mark.parametrize("function, loop", CASES)
def test_each_ufunc_calls_the_m_form_of_its_accuracy(recorder, function, loop, accuracy):
    ufunc = getattr(vm if accuracy == "thread" else getattr(vm, accuracy), function.name)
    _, exception, calls = recorder.record(ufunc, *ufunc_arguments(function, loop))
    assert exception is None
    math_calls = [c for c in calls if not c.symbol.startswith("vml")]
    assert [c.symbol for c in math_calls] == [loop.mode_runtime_name]
    assert [c.arguments[0].value for c in math_calls] == [N]
    mode = math_calls[0].arguments[-1].value
    assert mode & MODE_VALUES["ACCURACY_MASK"] == ACCURACIES[accuracy]
    assert mode & MODE_VALUES["FTZDAZ_MASK"] == 0  # the thread's FTZ/DAZ choice
    assert mode & MODE_VALUES["ERRMODE_MASK"] in (MODE_VALUES["ERRMODE_IGNORE"],
                                                  MODE_VALUES["ERRMODE_NOERR"])
    assert mode & ~(MODE_VALUES["ACCURACY_MASK"] | MODE_VALUES["ERRMODE_MASK"]) == 0
