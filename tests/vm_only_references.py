"""Exact references and samples for the operations only vm offers (lib has none of
their functions): mpmath, or Python's exact float functions where the result is exact,
each computed on the very inputs the runtime gets.

    python tests/vm_only_references.py    prints the largest error per operation, precision
                                          and accuracy
"""

from __future__ import annotations

import functools
import math

import mpmath
import numpy as np
from vantrel.mkl._catalogue.operations import OPERATIONS

from accuracy import FORMATS, REFERENCE_BITS, Batch, Sampler, _double_double, errors

mp = mpmath.mp

VM_ONLY = [operation for operation in OPERATIONS if not operation.in_lib]
LETTERS = ("s", "d")
# The orders Jn and Yn are sampled at: the runtime takes the order as a value of the
# element type, and integer orders are the functions' own.
ORDERS = (0.0, 1.0, 2.0, 5.0, 12.0)


def _degrees(function):
    return lambda x: function(mp.mpf(x) / 180)  # x / 180 exactly enough: 180k gives k


def _tanpi(x):
    return mp.sinpi(x) / mp.cospi(x)


def _by_magnitude(pick):
    def choose(a, b):
        if abs(a) == abs(b):
            return pick(a, b)
        return pick(a, b, key=abs)
    return choose


def _logb(x):
    return mp.mpf(math.frexp(float(x))[1] - 1)


REFERENCES = {
    "Acospi": lambda x: mp.acos(x) / mp.pi,
    "Asinpi": lambda x: mp.asin(x) / mp.pi,
    "Atanpi": lambda x: mp.atan(x) / mp.pi,
    "Atan2pi": lambda a, b: mp.atan2(a, b) / mp.pi,
    "CopySign": lambda a, b: mp.mpf(math.copysign(float(a), float(b))),
    "Cosd": _degrees(mp.cospi),
    "Cospi": mp.cospi,
    "Erfcx": lambda x: mp.exp(x * x) * mp.erfc(x),
    "Exp10": lambda x: mp.power(10, x),
    "Exp2": lambda x: mp.power(2, x),
    "ExpInt1": mp.e1,
    "Fdim": lambda a, b: a - b if a > b else mp.mpf(0),
    "Fmax": max,
    "Fmin": min,
    "Fmod": lambda a, b: mp.mpf(math.fmod(float(a), float(b))),
    "I0": lambda x: mp.besseli(0, x),
    "I1": lambda x: mp.besseli(1, x),
    "J0": lambda x: mp.besselj(0, x),
    "J1": lambda x: mp.besselj(1, x),
    "Jn": lambda x, n: mp.besselj(n, x),
    "Log2": lambda x: mp.log(x, 2),
    "Logb": _logb,
    "MaxMag": _by_magnitude(max),
    "MinMag": _by_magnitude(min),
    "NextAfter": None,  # exact by definition: NumPy's nextafter in the same format
    "Powr": mp.power,
    "Remainder": lambda a, b: mp.mpf(math.remainder(float(a), float(b))),
    "Sind": _degrees(mp.sinpi),
    "Sinpi": mp.sinpi,
    "Tand": _degrees(_tanpi),
    "Tanpi": _tanpi,
    "Y0": lambda x: mp.bessely(0, x),
    "Y1": lambda x: mp.bessely(1, x),
    "Yn": lambda x, n: mp.bessely(n, x),
}

N = 160


def _trigonometric(s: Sampler, period, poles=False):
    """Over a few periods, near the multiples of the quarter period, and far out; without
    the poles of tangents (odd multiples of the quarter period), which the special
    values hold."""
    quarters = s.rng.integers(-40, 40, 40) * (period / 4)
    values = np.concatenate([s.uniform(N, -2 * period, 2 * period), s.wide(40, high=1),
                             quarters + s.uniform(40, -1e-3, 1e-3) * period,
                             s.wide(40, low=1, high=1e6)]).astype(s.fmt.dtype)
    if poles:
        return values
    in_quarters = values.astype(np.float64) / (period / 4)
    return values[~((in_quarters == np.round(in_quarters)) & (np.round(in_quarters) % 2 == 1))]


def _pairs(s: Sampler, low=None, high=None):
    return [s.wide(N, low, high), s.wide(N, low, high)]


def _bessel_argument(s: Sampler, signed):
    return np.concatenate([s.uniform(N, 0 if not signed else -60, 60), s.wide(40, high=1e3,
                                                                           signed=signed)])


SAMPLES = {
    "Acospi": lambda s: [np.concatenate([s.uniform(N, -1, 1), s.wide(40, high=1)])],
    "Asinpi": lambda s: [np.concatenate([s.uniform(N, -1, 1), s.wide(40, high=1)])],
    "Atanpi": lambda s: [s.wide(N)],
    "Atan2pi": lambda s: [s.wide(N), s.wide(N)],
    "CopySign": lambda s: [s.wide(N), s.wide(N)],
    "Cosd": lambda s: [_trigonometric(s, 360.0, poles=True)],
    "Cospi": lambda s: [_trigonometric(s, 2.0, poles=True)],
    "Erfcx": lambda s: [np.concatenate([s.uniform(N, -9 if s.double else -4, 30),
                                        s.wide(40, low=1, high=1e6, signed=False)])],
    "Exp10": lambda s: [s.uniform(N, -307 if s.double else -37, 308 if s.double else 38)],
    "Exp2": lambda s: [s.uniform(N, -1022 if s.double else -126, 1023 if s.double else 127)],
    "ExpInt1": lambda s: [s.wide(N, low=1e-30, high=700 if s.double else 85, signed=False)],
    "Fdim": lambda s: _pairs(s, *s.arithmetic),
    "Fmax": lambda s: _pairs(s),
    "Fmin": lambda s: _pairs(s),
    "Fmod": lambda s: _pairs(s),
    "I0": lambda s: [s.uniform(N, -700 if s.double else -85, 700 if s.double else 85)],
    "I1": lambda s: [s.uniform(N, -700 if s.double else -85, 700 if s.double else 85)],
    "J0": lambda s: [_bessel_argument(s, True)],
    "J1": lambda s: [_bessel_argument(s, True)],
    "Jn": lambda s: [_bessel_argument(s, True)],
    "Log2": lambda s: [s.wide(N, signed=False)],
    "Logb": lambda s: [s.wide(N)],
    "MaxMag": lambda s: _pairs(s),
    "MinMag": lambda s: _pairs(s),
    "NextAfter": lambda s: _pairs(s),
    "Powr": lambda s: [s.wide(N, 1e-3, 1e3, signed=False), s.uniform(N, -10, 10)],
    "Remainder": lambda s: _pairs(s),
    "Sind": lambda s: [_trigonometric(s, 360.0, poles=True)],
    "Sinpi": lambda s: [_trigonometric(s, 2.0, poles=True)],
    "Tand": lambda s: [_trigonometric(s, 360.0)],
    "Tanpi": lambda s: [_trigonometric(s, 2.0)],
    "Y0": lambda s: [_bessel_argument(s, False)],
    "Y1": lambda s: [_bessel_argument(s, False)],
    "Yn": lambda s: [_bessel_argument(s, False)],
}


def scalars_of(operation) -> list[tuple]:
    """The scalar inputs each sampled call takes: the orders of Jn and Yn, else none."""
    takes_scalar = any(not role.array for _, role in operation.real.parameters)
    return [(order,) for order in ORDERS] if takes_scalar else [()]


def _in_range(values, fmt):
    """Exact values beyond the format's largest finite number as its infinities."""
    largest = float(fmt.info.max)
    return [mp.inf * mp.sign(v) if mp.isfinite(v) and abs(v) > largest else v for v in values]


def _exact(function, inputs, scalars, fmt):
    if function is None:  # NextAfter
        return [_double_double([mp.mpf(float(v)) for v in np.nextafter(*inputs)])]
    values = []
    with mp.workprec(REFERENCE_BITS):
        for point in zip(*inputs):
            arguments = [mp.mpf(float(x)) for x in point] + [mp.mpf(x) for x in scalars]
            value = function(*arguments)
            if isinstance(value, mpmath.mpc):
                value = value.real if value.imag == 0 else mp.nan
            values.append(value)
    return [_double_double(_in_range(values, fmt))]


@functools.lru_cache(maxsize=None)
def batches(name: str, letter: str) -> tuple[Batch, ...]:
    """Samples of an operation in one precision, each call's with its exact results."""
    fmt = FORMATS[letter]
    operation = next(o for o in VM_ONLY if o.name == name)
    s = Sampler(fmt, f"vm-only {name} {letter}")
    result = []
    for scalars in scalars_of(operation):
        inputs = [np.asarray(x).astype(fmt.dtype) for x in SAMPLES[name](s)]
        scalars = tuple(float(fmt.dtype(x)) for x in scalars)
        result.append(Batch(inputs, scalars, _exact(REFERENCES[name], inputs, scalars, fmt)))
    return tuple(result)


def sample_inputs(name: str, letter: str) -> list[tuple[list, tuple]]:
    """(inputs, scalars) of each sampled call, as accuracy.sample_inputs gives lib's."""
    return [(batch.inputs, batch.scalars) for batch in batches(name, letter)]


SAMPLED = {(operation.name, letter) for operation in VM_ONLY for letter in LETTERS}


def worst_error(ufunc, name: str, letter: str, *orders: float) -> float:
    """The largest error in ulp of a ufunc over an operation's samples in a precision (of
    Jn and Yn, those of the orders given, or of every order)."""
    worst = 0.0
    for batch in batches(name, letter):
        if orders and batch.scalars[0] not in orders:
            continue
        with np.errstate(all="ignore"):
            computed = ufunc(*batch.inputs, *batch.scalars)
        worst = max(worst, float(np.max(errors(computed, batch.reference[0], FORMATS[letter]))))
    return worst


def main():
    from vantrel.mkl import vm
    namespaces = {"HA": vm.ha, "LA": vm.la, "EP": vm.ep}
    print(f"{'operation':<12}{'letter':<8}" + "".join(f"{a:>11}" for a in namespaces))
    for operation in VM_ONLY:
        for letter in LETTERS:
            row = [worst_error(getattr(space, operation.vm_name), operation.name, letter)
                   for space in namespaces.values()]
            print(f"{operation.name:<12}{letter:<8}" + "".join(f"{e:11.3g}" for e in row))


if __name__ == "__main__":
    main()
