"""A user's script, checked by mypy --strict against the installed stubs
(tests/test_typing.py): every vm result it returns must be typed as an array, as NumPy's
own ufuncs' are, or mypy reports it as Any."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np
from numpy.typing import NDArray
from vantrel.mkl import vm

Floats = NDArray[np.float64]


def normal_cdf(d: Floats) -> Floats:
    return vm.cdfnorm(d)


def log_of_exp(x: Floats) -> Floats:
    # One step at a time: a ufunc of an NDArray[Any] is Any to NumPy 2.0's stubs, for
    # its own ufuncs as for vm's.
    y: Floats = vm.exp(x)
    return vm.log(y)  # NumPy's name, vm.ln's ufunc


def both(x: Floats) -> tuple[NDArray[Any], NDArray[Any]]:
    s, c = vm.sincos(x)
    frac, whole = vm.modf(x)
    return vm.add(s, c), vm.multiply(frac, whole)


def in_each_accuracy(x: Floats) -> list[NDArray[Any]]:
    return [vm.ha.exp(x), vm.la.power(x, 2.0), vm.ep.sqrt(x), vm.ha.sincos(x)[0]]


def with_out(x: Floats) -> Floats:
    out = np.empty_like(x)
    return vm.ln(x, out=out)


def linear_fraction(a: Floats, b: Floats) -> NDArray[Any]:
    return vm.linearfrac(a, b, 2.0, 1.0, 1.0, 0.5)


def gathered(x: Floats) -> NDArray[Any]:
    return vm.packv(x, [1, 0])


def scattered(x: Floats) -> Floats:
    # A result array given is returned as its own type.
    into: Floats = np.zeros(2 * len(x))
    return vm.unpacki(vm.packi(x, 1, len(x), out=np.empty_like(x)), 2, into)


def in_a_mode(x: Floats) -> Floats:
    with vm.mode(vm.EP) as previous:
        assert isinstance(previous, int)
        return vm.exp(x)


if TYPE_CHECKING:
    x: Floats = np.linspace(0.0, 1.0, 5)
    reveal_type(vm.exp(x))  # noqa: F821 (mypy's own)
    reveal_type(vm.arctan2(x, x))  # noqa: F821 (mypy's own)
    reveal_type(vm.modf(x))  # noqa: F821 (mypy's own)
    reveal_type(vm.la.log)  # noqa: F821 (mypy's own)
    reveal_type(vm.linearfrac(x, x, 1.0, 0.0, 1.0, 0.0))  # noqa: F821 (mypy's own)
    reveal_type(vm.packv(x, [0], out=x))  # noqa: F821 (mypy's own)
