"""A mode whose accuracy field the runtime does not define (4 to 15) would make it run
another function's kernel: vm's mode setters refuse it, as lib's m forms do. A call
takes an accuracy by its ufunc (vm.la, vm.ha, vm.ep), never by a mode of its own."""

import numpy as np
import pytest


@pytest.mark.parametrize("accuracy", range(16))
def test_a_mode_needs_a_defined_accuracy(accuracy, clean_runtime_state):
    from vantrel.mkl import vm
    x = np.array([0.5, 1.0, 2.0])
    mode = vm.ERRMODE_ERRNO | accuracy
    before = vm.get_mode()
    if accuracy <= vm.EP:
        with vm.mode(mode):
            assert vm.exp(x) == pytest.approx(np.exp(x))
            assert vm.add(x, x) == pytest.approx(2 * x)
    else:
        for call in (lambda: vm.set_mode(mode), lambda: vm.mode(mode).__enter__()):
            with pytest.raises(ValueError, match=f"mode {mode:#x} has accuracy field {accuracy},"):
                call()
    assert vm.get_mode() == before
