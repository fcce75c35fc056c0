"""vm's NumPy names: each alias is the very ufunc of vm's own name, in vm and in each
accuracy namespace, and the function each catalogue record names as its counterpart
computes what vm's ufunc computes, on the accuracy tests' samples and special values."""

import importlib

import numpy as np
import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue.accuracy_bounds import documented_bound
from vantrel.mkl._catalogue.vm_interface import vm_aliases, vm_functions

from accuracy import BASES, FORMATS, errors, sample_inputs, special_batches, special_mismatches
from references import COMPLEX_SPECIAL_FIXES, REAL_SPECIAL_FIXES, ZERO_SIGN_OPEN
from test_accuracy import bound
from vm_only_references import SAMPLED as VM_ONLY_SAMPLED
from vm_only_references import sample_inputs as vm_only_sample_inputs

ALIASES = vm_aliases()
NAMESPACES = {"vm": vm, "la": vm.la, "ha": vm.ha, "ep": vm.ep}
# What NumPy's own functions may be off by, in ulp, beside the runtime's bound: 4, and
# 16 for its complex64 power (14 against exact results). SciPy's are held to half the
# bits only: its ndtr loses a thousand ulp deep in the tail.
NUMPY_ULP = {("Pow", "c"): 16}


def tolerance(function, letter):
    if function.operation.numpy_name is None:
        return documented_bound("EP", letter)
    return bound(function.base, letter, "HA") + NUMPY_ULP.get((function.base, letter), 4)


def counterpart_of(function):
    """The function a record names: NumPy's by its name, another library's by a dotted one."""
    name = function.operation.counterpart
    if "." not in name:
        return getattr(np, name)
    module, _, attribute = name.rpartition(".")
    return getattr(importlib.import_module(module), attribute)


PAIRED = [function for function in vm_functions() if function.operation.counterpart]
# The accuracy tests' samples, by (base name, precision letter): lib's, and those of
# the operations only vm offers, whose special values against NumPy's
# test_vm_only_operations.py compares.
SAMPLED = set(BASES) | VM_ONLY_SAMPLED
PAIRED_LOOPS = [pytest.param(f, loop, id=f"{f.name}-{loop.letter}")
                for f in PAIRED for loop in f.loops if (f.base, loop.letter) in SAMPLED]
NUMPY_LOOPS = [case for case in PAIRED_LOOPS if case.values[0].operation.numpy_name
               and case.values[0].operation.in_lib]


def samples_of(base, letter):
    return (vm_only_sample_inputs if (base, letter) in VM_ONLY_SAMPLED
            else sample_inputs)(base, letter)


@pytest.mark.parametrize("alias", ALIASES)
def test_an_alias_is_the_ufunc_of_vms_name_in_vm_and_each_accuracy(alias):
    name = ALIASES[alias]
    for namespace in NAMESPACES.values():
        assert getattr(namespace, alias) is getattr(namespace, name)
        assert alias in dir(namespace)
    assert alias in vm.__all__
    assert vm_functions()[[f.name for f in vm_functions()].index(name)].aliases == (alias,)
    assert callable(getattr(np, alias)), "an alias is NumPy's name of a function"


@pytest.mark.parametrize("function", vm_functions(), ids=lambda f: f.name)
def test_a_name_numpy_has_is_bound_only_to_what_numpy_means_by_it(function):
    """Where NumPy has a function by one of vm's names (round, modf, abs), it is the
    counterpart the record names, or the record says how the two differ: vm.round is
    not numpy.round, which rounds halves to even."""
    operation = function.operation
    for name in (function.name, *function.aliases):
        theirs = getattr(np, name, None)
        if theirs is None:
            continue
        named = getattr(np, operation.numpy_name, None) if operation.numpy_name else None
        assert theirs is named or operation.numpy_difference, (
            f"numpy.{name} is not the counterpart of vm.{function.name} in "
            "catalogue/operations.py: name it, or say how the two differ")


def test_every_counterpart_is_compared():
    unsampled = [f"vm.{f.name} ({loop.letter})" for f in PAIRED for loop in f.loops
                 if (f.base, loop.letter) not in SAMPLED]
    assert not unsampled, (f"{unsampled} have a counterpart but no samples to compare it on: "
                           "tests/accuracy.py knows the functions lib offers")


def _as_reference(values):
    """A function's results as errors() takes an exact reference, per component."""
    values = np.asarray(values)
    if np.iscomplexobj(values):
        return [(values.real.astype(np.float64), np.zeros(values.shape))
                for values in (values.real, values.imag)]
    return values.astype(np.float64), np.zeros(values.shape)


def _results(outputs):
    return outputs if isinstance(outputs, tuple) else (outputs,)


@pytest.mark.parametrize("function, loop", PAIRED_LOOPS)
def test_the_counterpart_agrees_on_samples(function, loop):
    ours, theirs = getattr(vm.ha, function.name), counterpart_of(function)
    worst_allowed = tolerance(function, loop.letter)
    for inputs, scalars in samples_of(function.base, loop.letter):
        with np.errstate(all="ignore"):
            got, want = _results(ours(*inputs, *scalars)), _results(theirs(*inputs, *scalars))
        assert len(got) == len(want)
        for mine, other in zip(got, want):
            assert mine.dtype == np.dtype(loop.output_dtype)
            reference = _as_reference(other)
            if np.iscomplexobj(other):
                reference = tuple(reference)
            worst = errors(mine, reference, FORMATS[loop.letter])
            assert worst.max() <= worst_allowed, inputs[0][np.argmax(worst)]


@pytest.mark.parametrize("function, loop", NUMPY_LOOPS)
def test_the_numpy_counterpart_agrees_on_special_values(function, loop):
    """Zeros with their signs, infinities, NaN, subnormals, the format's limits and the
    domain's edges give NumPy's results, but where the runtime keeps to C99 and NumPy
    does not (references.py), which the record says."""
    ours, theirs = getattr(vm.ha, function.name), counterpart_of(function)
    fixes = COMPLEX_SPECIAL_FIXES if np.dtype(loop.input_dtype).kind == "c" else REAL_SPECIAL_FIXES
    fix = fixes.get(function.base)
    if fix is not None:
        assert function.operation.numpy_difference, "the record says where they differ"
    worst_allowed = tolerance(function, loop.letter)
    for batch in special_batches(function.base, loop.letter):
        with np.errstate(all="ignore"):
            got = _results(ours(*batch.inputs, *batch.scalars))
            want = _results(theirs(*batch.inputs, *batch.scalars))
        for mine, other in zip(got, want):
            other = np.asarray(other, dtype=mine.dtype)
            if fix is not None:
                other = fix(batch.inputs[0], other)
            sign_open = ZERO_SIGN_OPEN.get(function.base)
            wrong = special_mismatches(mine, other, FORMATS[loop.letter], worst_allowed,
                                       sign_open(batch.inputs[0]) if sign_open else None)
            assert wrong.size == 0, ([x[wrong] for x in batch.inputs], mine[wrong], other[wrong])
