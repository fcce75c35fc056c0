"""The bounds the documentation states, from the catalogue, are the ones the accuracy
tests hold the runtime to, for every math function, precision and accuracy."""

import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue import accuracy_bounds

import test_accuracy
from accuracy import ACCURACIES, BASES


def test_the_stated_accuracies_are_the_runtimes_and_vms():
    assert set(accuracy_bounds.ACCURACIES) == set(ACCURACIES) == set(accuracy_bounds.DESCRIPTIONS)
    assert all(getattr(vm, name) == ACCURACIES[name] for name in accuracy_bounds.ACCURACIES)
    assert all(hasattr(vm, name.lower()) for name in accuracy_bounds.ACCURACIES)


@pytest.mark.parametrize("accuracy", accuracy_bounds.ACCURACIES)
def test_each_stated_bound_is_the_tested_one_or_says_why_not(accuracy):
    for base, letter in BASES:
        stated = accuracy_bounds.bound(base, letter, accuracy)
        tested = test_accuracy.bound(base, letter, accuracy)
        # Where the error grows with the inputs, the tests bound it for their sample.
        assert tested == stated or accuracy_bounds.caveat(base, letter), (base, letter)
