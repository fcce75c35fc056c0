"""How vm's ufunc of an operation answers as NumPy's own ufuncs do beyond calling the
runtime: where the floating-point conditions it reports come from, and how it reduces.
"""

from __future__ import annotations

from dataclasses import dataclass

from .terms import Term


@dataclass(frozen=True, eq=False, repr=False)
class ConditionSource(Term):
    """Where a ufunc's conditions (invalid, divide by zero, overflow, underflow) come from."""

    name: str


# The runtime's error status and error callback, which report the conditions of its math
# functions: a domain error, a singularity, overflow and underflow.
RUNTIME = ConditionSource("runtime")
# The runtime checks none of the operation's conditions (its plain arithmetic), or only
# some (fmod, nextafter and their kin, which C's library defines and NumPy calls): vm
# evaluates NumPy's formula of the operation for each result that is not a normal number
# (dispatch/formulas.hpp, by the base name) and reports the processor's flags.
EVALUATED = ConditionSource("evaluated")


@dataclass(frozen=True, eq=False, repr=False)
class Reduction(Term):
    """How ``reduce`` folds an axis, where NumPy's ufunc has a rule of its own for it
    (dispatch/reduction.hpp); every other ufunc folds one element at a time through the
    runtime."""

    name: str


PAIRWISE_SUM = Reduction("pairwise_sum")  # NumPy's pairwise summation, term for term
PRODUCT = Reduction("product")  # NumPy's left fold, in real precisions


# The identities a NumPy ufunc can have, by the names NumPy's C API gives them.
IDENTITIES = {None: "PyUFunc_None", 0: "PyUFunc_Zero", 1: "PyUFunc_One"}
