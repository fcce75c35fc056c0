"""Every math base name, in every precision, against an independent reference.

The m form is called with each accuracy mode as its mode argument, the plain form
under the same mode set for the thread; both must give the same bits, within the
accuracy the runtime documents for the mode (accuracy.py has the references).
"""

import numpy as np
import pytest

from accuracy import (
    ACCURACIES,
    BASES,
    ERRMODE_IGNORE,
    FORMATS,
    call,
    documented_bound,
    measure,
    missing_references,
    name_of,
    special_batches,
)
from accuracy import special_mismatches as mismatches
from references import ZERO_SIGN_OPEN

EXACT = {"Ceil", "Conj", "Floor", "Frac", "Modf", "NearbyInt", "Rint", "Round", "Trunc"}


def bound(base, letter, accuracy):
    """The documented bound, with the runtime's own exceptions to it."""
    if base in EXACT or (base == "Abs" and letter in "sd"):
        return 0.0  # no mode changes a result that is exact
    if base == "LinearFrac":
        return documented_bound("EP", letter)  # implemented in EP only, in every mode
    if base in ("Pow", "Powx") and letter == "z":
        # exp(b * ln a) in double precision: the error grows with |b * ln a|, about one
        # ulp per unit; the sample reaches |b * ln a| = 12.
        return 24.0
    return documented_bound(accuracy, letter)


REFERENCED = [case for case in BASES if not missing_references(*case)]


@pytest.mark.parametrize("base, letter", BASES)
def test_every_math_function_has_a_reference(base, letter):
    missing = missing_references(base, letter)
    assert not missing, f"{base} ({letter}) has no reference: add it to {', '.join(missing)}"


@pytest.mark.parametrize("accuracy", ACCURACIES)
@pytest.mark.parametrize("base, letter", REFERENCED)
def test_results_are_within_the_documented_accuracy(ffi, lib, clean_runtime_state, base,
                                                    letter, accuracy):
    worst, plain_form_agrees = measure(ffi, lib, base, letter, accuracy)
    assert plain_form_agrees, "the plain form under the thread's mode differs from the m form"
    assert worst <= bound(base, letter, accuracy)


SPECIAL_CASES = [(base, letter) for base, letter in REFERENCED
                 if special_batches(base, letter)]


@pytest.mark.parametrize("accuracy", ACCURACIES)
@pytest.mark.parametrize("base, letter", SPECIAL_CASES)
def test_special_values_and_domain_edges(ffi, lib, clean_runtime_state, base, letter,
                                         accuracy):
    mode = ACCURACIES[accuracy] | ERRMODE_IGNORE
    sign_open = ZERO_SIGN_OPEN.get(base)
    for batch in special_batches(base, letter):
        outputs = call(ffi, lib, name_of(base, letter, True), batch.inputs, batch.scalars, mode)
        open_positions = sign_open(batch.inputs[0]) if sign_open else None
        for output, expected in zip(outputs, batch.reference):
            wrong = mismatches(output, expected, FORMATS[letter], bound(base, letter, accuracy),
                               open_positions)
            inputs = [np.asarray(x)[wrong].tolist() for x in batch.inputs]
            assert wrong.size == 0, (batch.scalars, inputs, output[wrong], expected[wrong])
