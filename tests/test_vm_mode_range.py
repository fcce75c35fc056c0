"""A mode whose accuracy field the runtime does not define (4 to 15) would make it run
another function's kernel: vm refuses it for a call, as lib's m forms do."""

import numpy as np
import pytest


@pytest.mark.parametrize("accuracy", range(16))
def test_a_call_mode_needs_a_defined_accuracy(accuracy):
    from vantrel.mkl import vm
    x = np.array([0.5, 1.0, 2.0])
    mode = vm.ERRMODE_ERRNO | accuracy
    if accuracy <= vm.EP:
        assert vm.exp(x, mode=mode) == pytest.approx(np.exp(x))
        assert vm.add(x, x, mode=mode) == pytest.approx(2 * x)
    else:
        for call in (lambda: vm.exp(x, mode=mode), lambda: vm.add(x, x, mode=mode)):
            with pytest.raises(ValueError, match=f"mode {mode} has accuracy field {accuracy},"):
                call()
