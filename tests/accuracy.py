"""Samples, references and errors in ulp for every math base name and precision.

Samples are drawn inside each function's domain, subnormals and the neighbourhood of
its edges included; each is paired with its exact result (references.py), computed
once per process. Special values and points outside the domain form separate
batches, with the results C99 gives them.

    python tests/accuracy.py    prints the largest error per function, precision and mode
"""

from __future__ import annotations

import functools
import math
import zlib
from dataclasses import dataclass

import mpmath
import numpy as np
from vantrel.mkl._catalogue.accuracy_bounds import documented_bound  # noqa: F401 (tests use it)
from vantrel.mkl._catalogue.functions import PRECISIONS, offered_functions
from vantrel.mkl._catalogue.precisions import NUMPY_DTYPES
from vantrel.mkl._catalogue.roles import COUNT, MODE, SCALAR

import references
from runtime_values import EP, ERRMODE_IGNORE, HA, LA

mp = mpmath.mp
REFERENCE_BITS = 128

ACCURACIES = {"HA": HA, "LA": LA, "EP": EP}


@dataclass(frozen=True)
class Format:
    dtype: type
    bits: int  # significand bits, the hidden one included
    min_exponent: int  # of the smallest normal number

    @property
    def info(self):
        return np.finfo(self.dtype)

    @property
    def complex_dtype(self):
        return np.complex64 if self.dtype is np.float32 else np.complex128


SINGLE = Format(np.float32, 24, -126)
DOUBLE = Format(np.float64, 53, -1022)
FORMATS = {"s": SINGLE, "d": DOUBLE, "c": SINGLE, "z": DOUBLE}

FUNCTIONS = {f.name: f for f in offered_functions()}
MATH = [f for f in FUNCTIONS.values() if f.spelling == "value" and not f.with_mode
        and f.family.name != "service" and not f.family.name.startswith(("pack", "unpack"))]
BASES = sorted((f.base, f.letter) for f in MATH)
FAMILY = {(f.base, f.letter): f.family.name for f in MATH}


def missing_references(base: str, letter: str) -> list[str]:
    """The tables of references.py (and of this file) that lack a base name the catalogue
    offers in a precision: a new math function brings its own oracle."""
    if PRECISIONS[letter].is_complex:
        return [] if base in references.COMPLEX else ["references.COMPLEX"]
    wanted = {"references.REAL": references.REAL}
    if FAMILY[base, letter] != "linear_frac":
        wanted["references.REAL_SPECIAL"] = references.REAL_SPECIAL
    if base not in ("Powx", "LinearFrac"):
        wanted["REAL_SAMPLES (tests/accuracy.py)"] = REAL_SAMPLES
    return [name for name, table in wanted.items() if base not in table]


def name_of(base: str, letter: str, with_mode: bool) -> str:
    return ("vm" if with_mode else "v") + letter + base


# --- samples -----------------------------------------------------------------------------


class Sampler:
    """Random inputs of one format, drawn the same way in every run."""

    def __init__(self, fmt: Format, seed: str):
        self.fmt = fmt
        self.rng = np.random.default_rng(zlib.crc32(seed.encode()))
        self.double = fmt is DOUBLE
        self.big = float(fmt.info.max)
        self.log_max = math.log(self.big)

    def wide(self, count, low=None, high=None, signed=True):
        """Magnitudes spread evenly over the binades from `low` to `high`."""
        low = low if low is not None else float(self.fmt.info.smallest_subnormal)
        high = high if high is not None else self.big / 2
        values = np.exp2(self.rng.uniform(math.log2(low), math.log2(high), count))
        return values * self.rng.choice([-1.0, 1.0], count) if signed else values

    def uniform(self, count, low, high):
        return self.rng.uniform(low, high, count)

    def near(self, *points, steps=3):
        """The points and their nearest neighbours on each side."""
        values = []
        for point in points:
            up = down = self.fmt.dtype(point)
            for _ in range(steps):
                values += [up, np.nextafter(down, self.fmt.dtype(-np.inf))]
                up = np.nextafter(up, self.fmt.dtype(np.inf))
                down = values[-1]
        return np.array(values, dtype=np.float64)

    def rounding(self, count):
        """Integers and halves, with neighbours: the hard cases of rounding."""
        halves = np.floor(self.uniform(count, -1e6, 1e6)) + self.rng.choice([0.0, 0.5], count)
        return np.concatenate([self.wide(count), halves,
                               self.near(0.5, -0.5, 1.5, 2.5, -2.5, 2.0 ** (self.fmt.bits - 1))])

    def complex(self, count, low, high):
        return self.wide(count, low, high) + 1j * self.wide(count, low, high)

    @property
    def arithmetic(self):
        """Magnitudes whose products and quotients stay normal."""
        return (1e-100, 1e100) if self.double else (1e-15, 1e15)

    @property
    def complex_arithmetic(self):
        return (1e-50, 1e50) if self.double else (1e-8, 1e8)


N = 240


def _unit_interval(s: Sampler):
    return np.concatenate([s.uniform(N, -1, 1), s.wide(40, high=1), s.near(1, -1)])


def _trigonometric(s: Sampler):
    return np.concatenate([s.uniform(N, -10, 10), s.wide(N, high=1e6)])


def _probability_tail(s: Sampler, high):
    return s.wide(40, low=1e-300 if s.double else 1e-37, high=high, signed=False)


REAL_SAMPLES = {
    "Abs": lambda s: [s.wide(N)],
    "Acos": lambda s: [_unit_interval(s)],
    "Acosh": lambda s: [np.concatenate([1 + s.wide(N, high=s.big / 4, signed=False),
                                        s.near(1)])],
    "Asin": lambda s: [_unit_interval(s)],
    "Asinh": lambda s: [s.wide(N)],
    "Atan": lambda s: [s.wide(N)],
    "Atanh": lambda s: [_unit_interval(s)],
    "Cbrt": lambda s: [s.wide(N)],
    "CdfNorm": lambda s: [s.uniform(N, -37 if s.double else -13, 9 if s.double else 6)],
    "CdfNormInv": lambda s: [np.concatenate([s.uniform(N, 0, 1), _probability_tail(s, 0.5)])],
    "Cos": lambda s: [_trigonometric(s)],
    "Cosh": lambda s: [s.uniform(N, -s.log_max, s.log_max)],
    "Erf": lambda s: [np.concatenate([s.uniform(N, -6, 6), s.wide(40, high=1)])],
    "Erfc": lambda s: [s.uniform(N, -6, 26 if s.double else 9)],
    "ErfcInv": lambda s: [np.concatenate([s.uniform(N, 0, 2), _probability_tail(s, 1)])],
    "ErfInv": lambda s: [np.concatenate([s.uniform(N, -1, 1), s.wide(40, high=1)])],
    "Exp": lambda s: [s.uniform(N, -s.log_max - 20, s.log_max)],
    "Expm1": lambda s: [np.concatenate([s.uniform(N, -40, s.log_max), s.wide(40, high=1)])],
    "Inv": lambda s: [s.wide(N, low=4 / s.big)],
    "InvCbrt": lambda s: [s.wide(N)],
    "InvSqrt": lambda s: [s.wide(N, signed=False)],
    "LGamma": lambda s: [np.concatenate([s.wide(N, low=1e-30, high=s.big / 1e10, signed=False),
                                         s.uniform(N, -60 if s.double else -30, 0)])],
    "Ln": lambda s: [s.wide(N, signed=False)],
    "Log10": lambda s: [s.wide(N, signed=False)],
    "Log1p": lambda s: [np.concatenate([s.wide(N, signed=False), s.wide(40, high=1),
                                        s.uniform(40, -1, 0)])],
    "Pow2o3": lambda s: [s.wide(N)],
    "Pow3o2": lambda s: [s.wide(N, high=s.big ** (2 / 3) / 2, signed=False)],
    "Sin": lambda s: [_trigonometric(s)],
    "SinCos": lambda s: [_trigonometric(s)],
    "Sinh": lambda s: [s.uniform(N, -s.log_max, s.log_max)],
    "Sqr": lambda s: [s.wide(N, high=math.sqrt(s.big) / 2)],
    "Sqrt": lambda s: [s.wide(N, signed=False)],
    "Tan": lambda s: [_trigonometric(s)],
    "Tanh": lambda s: [np.concatenate([s.uniform(N, -20, 20), s.wide(40, high=1)])],
    "TGamma": lambda s: [s.uniform(N, -170 if s.double else -34, 171 if s.double else 35)],
    **{name: (lambda s: [s.rounding(N)])
       for name in ("Ceil", "Floor", "Frac", "Modf", "NearbyInt", "Rint", "Round", "Trunc")},
    **{name: (lambda s: [s.wide(N, *s.arithmetic), s.wide(N, *s.arithmetic)])
       for name in ("Add", "Sub", "Mul", "Div")},
    "Atan2": lambda s: [s.wide(N), s.wide(N)],
    "Hypot": lambda s: [s.wide(N, high=s.big / 4), s.wide(N, high=s.big / 4)],
    "Pow": lambda s: [s.wide(N, 1e-3, 1e3, signed=False), s.uniform(N, -10, 10)],
}

COMPLEX_SAMPLES = {
    **{name: (lambda s: [s.complex(160, 1e-3, 20)])
       for name in ("Cos", "Cosh", "Exp", "Sin", "Sinh", "Tan", "Tanh")},
    **{name: (lambda s: [s.complex(160, *s.complex_arithmetic),
                         s.complex(160, *s.complex_arithmetic)])
       for name in ("Add", "Div", "Mul", "MulByConj", "Sub")},
    "CIS": lambda s: [_trigonometric(s)],
    "Pow": lambda s: [s.complex(160, 0.1, 10), s.complex(160, 0.01, 4)],
}

POWX_EXPONENTS = {"real": [2.5, -1.5, 1 / 3, 7.0, -3.0, 0.5],
                  "complex": [complex(2.0, 0.0), complex(0.5, -1.25), complex(-1.5, 0.75)]}
LINEAR_FRAC_SCALARS = [(1.5, -0.25, 0.75, 2.0), (-3.0, 1.0, 0.0, 4.0), (0.5, 0.0, 2.0, -1.0)]


def _linear_frac_inputs(s: Sampler, scalars):
    """Inputs away from the zeros of numerator and denominator: the runtime promises its
    accuracy only outside a relative 2**(1 - (p - 1) / 2) of -shift / scale."""
    scalea, shifta, scaleb, shiftb = scalars
    margin = 2.0 ** (1 - (s.fmt.bits - 1) / 2)
    inputs = []
    for scale, shift in ((scalea, shifta), (scaleb, shiftb)):
        values = s.uniform(2 * N, -10, 10)
        if scale != 0:
            zero = -shift / scale
            values = values[np.abs(values - zero) > 2 * margin * max(abs(zero), 1.0)]
        inputs.append(values[:N])
    return inputs


def _samples(base: str, letter: str) -> list[tuple[list, tuple]]:
    """(inputs, scalars) for each call that samples a base name in a precision."""
    fmt = FORMATS[letter]
    s = Sampler(fmt, f"{base} {letter}")
    is_complex = PRECISIONS[letter].is_complex
    if base == "Powx":
        dtype = fmt.complex_dtype if is_complex else fmt.dtype
        inputs = [s.complex(160, 0.1, 10) if is_complex else s.wide(N, 1e-3, 1e3, signed=False)]
        exponents = POWX_EXPONENTS["complex" if is_complex else "real"]
        return [(inputs, (dtype(e).item(),)) for e in exponents]
    if base == "LinearFrac":
        scalar_sets = [tuple(float(fmt.dtype(x)) for x in scalars)
                       for scalars in LINEAR_FRAC_SCALARS]
        return [(_linear_frac_inputs(s, scalars), scalars) for scalars in scalar_sets]
    if is_complex:
        return [(COMPLEX_SAMPLES.get(base, lambda s: [s.complex(160, 1e-3, 1e3)])(s), ())]
    return [(REAL_SAMPLES[base](s), ())]


@dataclass
class Batch:
    """One call's inputs and scalars, with the expected outputs: for samples, each
    output's exact value as (high, low) double pairs (per component for complex)."""
    inputs: list[np.ndarray]
    scalars: tuple
    reference: list


def _double_double(values):
    high = np.array([float(v) for v in values])
    low = np.array([float(v - h) if math.isfinite(h) else 0.0 for v, h in zip(values, high)])
    return high, low


def _exact(function, inputs, scalars, outputs: int, complex_results: bool):
    columns = [[] for _ in range(outputs)]
    with mp.workprec(REFERENCE_BITS):
        arguments = [[mp.mpc(complex(x)) if np.iscomplexobj(x) else mp.mpf(float(x))
                      for x in column] for column in inputs]
        constants = [mp.mpc(x) if isinstance(x, complex) else mp.mpf(x) for x in scalars]
        for point in zip(*arguments):
            values = function(*point, *constants)
            for column, value in zip(columns, values if outputs > 1 else (values,)):
                if not complex_results and isinstance(value, mpmath.mpc):
                    value = value.real if value.imag == 0 else mp.nan  # outside the domain
                column.append(value)
        if complex_results:
            return [(_double_double([mp.mpc(v).real for v in column]),
                     _double_double([mp.mpc(v).imag for v in column])) for column in columns]
        return [_double_double(column) for column in columns]


@functools.lru_cache(maxsize=None)
def batches(base: str, letter: str) -> tuple[Batch, ...]:
    """The samples of a base name in one precision, with their exact results."""
    family = FAMILY[base, letter]
    is_complex = PRECISIONS[letter].is_complex
    function = (references.COMPLEX if is_complex else references.REAL)[base]
    complex_results = is_complex and family != "complex_to_real"
    outputs = 2 if family == "two_output" else 1
    return tuple(Batch(inputs, scalars,
                       _exact(function, inputs, scalars, outputs, complex_results))
                 for inputs, scalars in sample_inputs(base, letter))


def sample_inputs(base: str, letter: str) -> list[tuple[list[np.ndarray], tuple]]:
    """(inputs, scalars) of each call that samples a base name in a precision, the
    inputs as arrays of the precision, without their exact results."""
    fmt = FORMATS[letter]
    return [([np.asarray(x).astype(fmt.complex_dtype if np.iscomplexobj(x) else fmt.dtype)
              for x in inputs], scalars) for inputs, scalars in _samples(base, letter)]


# --- special values ----------------------------------------------------------------------

REAL_SPECIALS = [0.0, -0.0, math.inf, -math.inf, math.nan, 1.0, -1.0, 0.5, -0.5]
PAIR_SPECIALS = [0.0, -0.0, math.inf, -math.inf, math.nan, 1.0, -1.0, 2.0, 0.5, -2.5]
COMPLEX_PARTS = [0.0, -0.0, math.inf, -math.inf, math.nan, 1.5, -1.5]
DOMAIN_EDGES = {
    "Acos": [2.0, -2.0], "Asin": [2.0, -2.0], "Acosh": [0.5, -1.0], "Atanh": [2.0, -2.0],
    "CdfNormInv": [-0.5, 1.5, 0.5], "ErfInv": [1.5, -1.5], "ErfcInv": [2.0, -1.0, 3.0],
    "Ln": [-2.0], "Log10": [-2.0, 10.0], "Log1p": [-2.0], "Sqrt": [-2.0, 4.0],
    "InvSqrt": [-2.0, 4.0], "Pow3o2": [-2.0, 4.0], "Pow2o3": [-8.0, 8.0],
    "LGamma": [-2.0, -100.0, 2.0, -0.5, 1e-30, 1e300],
    "TGamma": [-2.0, -100.0, 2.0, -0.5, 172.0, 36.0, -180.5, 1e-30],
    "Exp": [710.0, -746.0, 89.0, -104.0], "Expm1": [710.0, -746.0, 89.0],
    "Cosh": [711.0, -711.0, 90.0], "Sinh": [711.0, -711.0, 90.0],
    "Erfc": [30.0, 11.0], "CdfNorm": [-40.0, -14.0],
}


def _exact_where_finite(base, inputs, scalars, expected, fmt):
    """Puts the exact result where the inputs are finite and non-zero and the result is
    finite and non-zero: SciPy saturates early (erfcinv and gammaln of subnormals)."""
    function = references.REAL[base]
    with mp.workprec(REFERENCE_BITS):
        for i, point in enumerate(zip(*inputs)):
            arguments = [float(x) for x in point] + [float(x) for x in scalars]
            if not all(math.isfinite(x) and x != 0 for x in arguments):
                continue  # mpmath has no signed zeros: NumPy's C99 result stands
            try:
                values = function(*[mp.mpf(x) for x in arguments])
            except (ValueError, ZeroDivisionError, OverflowError):  # poles, huge arguments
                continue
            for output, value in zip(expected, values if isinstance(values, tuple)
                                     else (values,)):
                if isinstance(value, mpmath.mpc):
                    value = value.real if value.imag == 0 else mp.nan
                if mp.isnan(value):
                    output[i] = np.nan
                elif value != 0 and abs(value) < fmt.info.max:
                    output[i] = float(value)


def _special_reals(base: str, fmt: Format) -> np.ndarray:
    info = fmt.info
    limits = [float(info.smallest_subnormal), float(info.smallest_normal),
              float(info.smallest_normal) - float(info.smallest_subnormal), float(info.max)]
    with np.errstate(over="ignore"):
        return np.array(REAL_SPECIALS + limits + [-x for x in limits]
                        + DOMAIN_EDGES.get(base, []), dtype=fmt.dtype)


@functools.lru_cache(maxsize=None)
def special_batches(base: str, letter: str) -> tuple[Batch, ...]:
    """Signed zeros, infinities, NaN, subnormals, the limits of the format and the edges
    of the domain, with the results C99 gives them: exactly, for special results. None
    where the runtime defines no special values (LinearFrac) or NumPy differs from C99."""
    fmt, family = FORMATS[letter], FAMILY[base, letter]
    if PRECISIONS[letter].is_complex:
        if base not in references.COMPLEX_SPECIAL:
            return ()
        parts = np.array([complex(r, i) for r in COMPLEX_PARTS for i in COMPLEX_PARTS],
                         dtype=fmt.complex_dtype)
        inputs = ([_special_reals(base, fmt)] if family == "real_to_complex"
                  else [parts] * (2 if family == "two_input" else 1))
        with np.errstate(all="ignore"):
            expected = references.COMPLEX_SPECIAL[base](*inputs)
        fix = references.COMPLEX_SPECIAL_FIXES.get(base)
        return (Batch(inputs, (), [fix(inputs[0], expected) if fix else expected]),)
    if family == "linear_frac":
        return ()
    if family == "two_input":
        pairs = np.array([(a, b) for a in PAIR_SPECIALS for b in PAIR_SPECIALS], dtype=fmt.dtype)
        samples = [([pairs[:, 0].copy(), pairs[:, 1].copy()], ())]
    elif family == "powx":
        samples = [([np.array(PAIR_SPECIALS, dtype=fmt.dtype)], (float(fmt.dtype(b)),))
                   for b in PAIR_SPECIALS]
    else:
        samples = [([_special_reals(base, fmt)], ())]
    result = []
    for inputs, scalars in samples:
        with np.errstate(all="ignore"):
            expected = references.REAL_SPECIAL[base](*inputs, *scalars)
        expected = [np.array(e, dtype=fmt.dtype)
                    for e in (expected if isinstance(expected, tuple) else (expected,))]
        _exact_where_finite(base, inputs, scalars, expected, fmt)
        fix = references.REAL_SPECIAL_FIXES.get(base)
        result.append(Batch(inputs, scalars, [fix(inputs[0], e) for e in expected]
                            if fix else expected))
    return tuple(result)


# --- errors ------------------------------------------------------------------------------


def ulp(values: np.ndarray, fmt: Format) -> np.ndarray:
    """The spacing of the format's numbers at each value (subnormal spacing below)."""
    magnitude = np.abs(values.astype(np.float64))
    with np.errstate(divide="ignore"):
        exponent = np.floor(np.log2(np.where(magnitude > 0, magnitude, 1.0)))
    exponent = np.where(magnitude > 0, np.maximum(exponent, fmt.min_exponent), fmt.min_exponent)
    return np.exp2(exponent - fmt.bits + 1)


def _component_errors(part, high, low, scale):
    """|part - exact| / scale; infinite where either is not finite and they differ."""
    part = part.astype(np.float64)
    with np.errstate(invalid="ignore", over="ignore"):
        error = np.abs((part - high) - low) / scale
    special = ~np.isfinite(high) | ~np.isfinite(part)
    same = (part == high) | (np.isnan(part) & np.isnan(high))
    return np.where(special, np.where(same, 0.0, np.inf), error)


def errors(computed: np.ndarray, reference, fmt: Format) -> np.ndarray:
    """Errors in ulp of the exact result; for complex results the larger component
    error, in ulp of the larger component of the exact result."""
    if not np.iscomplexobj(computed):
        high, low = reference
        return _component_errors(computed, high, low, ulp(high, fmt))
    (re_high, re_low), (im_high, im_low) = reference
    scale = ulp(np.fmax(np.abs(re_high), np.abs(im_high)), fmt)
    return np.maximum(_component_errors(computed.real, re_high, re_low, scale),
                      _component_errors(computed.imag, im_high, im_low, scale))


def special_mismatches(computed: np.ndarray, expected: np.ndarray, fmt: Format, bound: float,
                       sign_open=None):
    """Positions where a result differs from the expected one: NaN for NaN, infinities
    and zeros exactly (real results with their signs, but where `sign_open` is true; C99
    leaves many signs of complex results open), finite values within `bound` ulp."""
    complex_result = np.iscomplexobj(computed)
    if complex_result:
        pairs = [(computed.real, expected.real), (computed.imag, expected.imag)]
        with np.errstate(invalid="ignore"):
            scale = ulp(np.fmax(np.abs(expected.real), np.abs(expected.imag)), fmt)
        bound += 2  # NumPy's own error: these finite values are checked against mpmath too
    else:
        pairs = [(computed, expected)]
        scale = ulp(expected, fmt)
    wrong = np.zeros(len(computed), dtype=bool)
    for out, ref in pairs:
        out, ref = out.astype(np.float64), ref.astype(np.float64)
        exact = np.isnan(ref) | np.isinf(ref) | (ref == 0)
        if complex_result:
            out, ref = np.abs(out), np.abs(ref)
        signs_agree = np.signbit(out) == np.signbit(ref)
        if sign_open is not None:
            signs_agree |= sign_open & (ref == 0)
        same = (np.isnan(out) & np.isnan(ref)) | ((out == ref) & signs_agree)
        with np.errstate(invalid="ignore", over="ignore"):
            close = np.abs(out - ref) <= bound * scale
        wrong |= np.where(exact, ~same, ~close)
    return np.flatnonzero(wrong)


# --- calling the runtime -----------------------------------------------------------------


def call(ffi, lib, name: str, inputs: list[np.ndarray], scalars: tuple, mode=None):
    """Calls a by-value math function on NumPy arrays; returns its output arrays."""
    function = FUNCTIONS[name]
    precision = PRECISIONS[function.letter]
    n = len(inputs[0])
    given_inputs, given_scalars = iter(inputs), iter(scalars)
    arguments, outputs = [], []
    for parameter in function.params:
        role = parameter.role
        element = role.value(precision)
        if role is COUNT:
            arguments.append(n)
        elif role.array and not role.written:
            array = np.ascontiguousarray(next(given_inputs))
            arguments.append(ffi.from_buffer(f"{element.spelling}[]", array))
        elif role.array:
            outputs.append(np.full(n, np.nan, dtype=NUMPY_DTYPES[element]))
            arguments.append(ffi.from_buffer(f"{element.spelling}[]", outputs[-1],
                                             require_writable=True))
        elif role is SCALAR:
            value = next(given_scalars)
            arguments.append([value.real, value.imag] if isinstance(value, complex) else value)
        elif role is MODE:
            arguments.append(mode)
    getattr(lib, name)(*arguments)
    return outputs


def measure(ffi, lib, base: str, letter: str, accuracy: str) -> tuple[float, bool]:
    """The largest error of the m form called with the mode, and whether the plain form
    called under the same mode set for the thread gave the same bits."""
    mode = ACCURACIES[accuracy] | ERRMODE_IGNORE
    worst, same = 0.0, True
    for batch in batches(base, letter):
        with_mode = call(ffi, lib, name_of(base, letter, True), batch.inputs, batch.scalars, mode)
        previous = lib.vmlSetMode(mode)
        try:
            plain = call(ffi, lib, name_of(base, letter, False), batch.inputs, batch.scalars)
        finally:
            lib.vmlSetMode(previous)
        same &= all(a.tobytes() == b.tobytes() for a, b in zip(with_mode, plain))
        for output, reference in zip(with_mode, batch.reference):
            worst = max(worst, float(np.max(errors(output, reference, FORMATS[letter]))))
    return worst, same


def main():
    from vantrel.mkl.tessivec import ffi, lib
    print(f"{'family':<18}{'function':<12}{'letter':<8}" + "".join(f"{a:>11}" for a in ACCURACIES))
    for base, letter in sorted(BASES, key=lambda b: (FAMILY[b], b)):
        row = [measure(ffi, lib, base, letter, accuracy)[0] for accuracy in ACCURACIES]
        print(f"{FAMILY[base, letter]:<18}{base:<12}{letter:<8}"
              + "".join(f"{e:11.3g}" for e in row))


if __name__ == "__main__":
    main()
