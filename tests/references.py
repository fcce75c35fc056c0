"""What each math base name should give: exact values from mpmath, and C99's special
values (signed zeros, infinities, NaN) from NumPy and SciPy.

mpmath works on the very inputs the runtime gets, at the working precision its caller
sets; NumPy and SciPy are used only where signs of zeros and infinities matter.
"""

import math

import mpmath
import numpy as np
import scipy.special as sc

mp = mpmath.mp


def _erfcinv(y):
    """Newton's method on log(erfc(x)) = log(y), which stays well-behaved far into the
    tail, from SciPy's value or, where SciPy gives up, the asymptote."""
    y = mp.mpf(y)
    start = sc.erfcinv(float(y))
    x = mp.mpf(start if math.isfinite(start) else math.sqrt(-math.log(float(y))))
    for _ in range(8):
        slope = -2 / mp.sqrt(mp.pi) * mp.exp(-x * x) / mp.erfc(x)
        x -= (mp.ln(mp.erfc(x)) - mp.ln(y)) / slope
    return x


def _erfinv(y):
    y = mp.mpf(y)
    if abs(y) > 0.5:
        return mp.sign(y) * _erfcinv(1 - abs(y))
    x = mp.mpf(sc.erfinv(float(y)))
    for _ in range(4):
        x -= (mp.erf(x) - y) / (2 / mp.sqrt(mp.pi) * mp.exp(-x * x))
    return x


def _ndtri(p):
    return -mp.sqrt(2) * _erfcinv(2 * mp.mpf(p))


def _trunc(x):
    return mp.floor(x) if x >= 0 else mp.ceil(x)


def _cbrt(x):
    return mp.sign(x) * mp.cbrt(abs(x))


def _lgamma(x):
    return mp.loggamma(x) if x > 0 else mp.re(mp.loggamma(x))


def _complex_power(a, b):
    return mp.exp(b * mp.ln(a))


REAL = {
    "Abs": abs, "Acos": mp.acos, "Acosh": mp.acosh, "Asin": mp.asin, "Asinh": mp.asinh,
    "Atan": mp.atan, "Atanh": mp.atanh, "Cbrt": _cbrt, "CdfNorm": mp.ncdf,
    "CdfNormInv": _ndtri, "Ceil": mp.ceil, "Cos": mp.cos, "Cosh": mp.cosh, "Erf": mp.erf,
    "Erfc": mp.erfc, "ErfcInv": _erfcinv, "ErfInv": _erfinv, "Exp": mp.exp,
    "Expm1": mp.expm1, "Floor": mp.floor, "Frac": lambda x: x - _trunc(x),
    "Inv": lambda x: 1 / x, "InvCbrt": lambda x: 1 / _cbrt(x),
    "InvSqrt": lambda x: 1 / mp.sqrt(x), "LGamma": _lgamma, "Ln": mp.ln, "Log10": mp.log10,
    "Log1p": mp.log1p, "NearbyInt": mp.nint, "Pow2o3": lambda x: mp.cbrt(abs(x)) ** 2,
    "Pow3o2": lambda x: x * mp.sqrt(x), "Rint": mp.nint,
    "Round": lambda x: mp.sign(x) * mp.floor(abs(x) + mp.mpf(0.5)), "Sin": mp.sin,
    "Sinh": mp.sinh, "Sqr": lambda x: x * x, "Sqrt": mp.sqrt, "Tan": mp.tan, "Tanh": mp.tanh,
    "TGamma": mp.gamma, "Trunc": _trunc,
    "Add": lambda a, b: a + b, "Sub": lambda a, b: a - b, "Mul": lambda a, b: a * b,
    "Div": lambda a, b: a / b, "Atan2": mp.atan2, "Hypot": mp.hypot, "Pow": mp.power,
    "Powx": mp.power,
    "LinearFrac": lambda a, b, sa, ha, sb, hb: (sa * a + ha) / (sb * b + hb),
    "Modf": lambda x: (_trunc(x), x - _trunc(x)), "SinCos": lambda x: (mp.sin(x), mp.cos(x)),
}

COMPLEX = {
    "Acos": mp.acos, "Acosh": mp.acosh, "Asin": mp.asin, "Asinh": mp.asinh, "Atan": mp.atan,
    "Atanh": mp.atanh, "Conj": mp.conj, "Cos": mp.cos, "Cosh": mp.cosh, "Exp": mp.exp,
    "Ln": mp.ln, "Log10": mp.log10, "Sin": mp.sin, "Sinh": mp.sinh, "Sqrt": mp.sqrt,
    "Tan": mp.tan, "Tanh": mp.tanh,
    "Add": lambda a, b: a + b, "Sub": lambda a, b: a - b, "Mul": lambda a, b: a * b,
    "Div": lambda a, b: a / b, "MulByConj": lambda a, b: a * mp.conj(b),
    "Pow": _complex_power, "Powx": _complex_power, "Abs": abs, "Arg": mp.arg, "CIS": mp.expj,
}


def _powx(x, b):
    # The runtime takes x**0.5 as sqrt(x), with sqrt's values at -0 and -inf (-0 and
    # NaN, where C99's pow gives +0 and +inf).
    return np.sqrt(x) if b == 0.5 else np.power(x, b)


def _round_half_away(x):
    return np.copysign(np.floor(np.abs(x) + 0.5), x)


REAL_SPECIAL = {
    "Abs": np.abs, "Acos": np.arccos, "Acosh": np.arccosh, "Asin": np.arcsin,
    "Asinh": np.arcsinh, "Atan": np.arctan, "Atanh": np.arctanh, "Cbrt": np.cbrt,
    "CdfNorm": sc.ndtr, "CdfNormInv": sc.ndtri, "Ceil": np.ceil, "Cos": np.cos,
    "Cosh": np.cosh, "Erf": sc.erf, "Erfc": sc.erfc, "ErfcInv": sc.erfcinv,
    "ErfInv": sc.erfinv, "Exp": np.exp, "Expm1": np.expm1, "Floor": np.floor,
    "Frac": lambda x: np.modf(x)[0], "Inv": lambda x: 1 / x,
    "InvCbrt": lambda x: 1 / np.cbrt(x), "InvSqrt": lambda x: 1 / np.sqrt(x),
    "LGamma": sc.gammaln, "Ln": np.log, "Log10": np.log10, "Log1p": np.log1p,
    "NearbyInt": np.rint, "Pow2o3": lambda x: np.cbrt(x) ** 2,
    "Pow3o2": lambda x: np.power(x, 1.5), "Rint": np.rint, "Round": _round_half_away,
    "Sin": np.sin, "Sinh": np.sinh, "Sqr": np.square, "Sqrt": np.sqrt, "Tan": np.tan,
    "Tanh": np.tanh, "TGamma": sc.gamma, "Trunc": np.trunc,
    "Add": np.add, "Sub": np.subtract, "Mul": np.multiply, "Div": np.divide,
    "Atan2": np.arctan2, "Hypot": np.hypot, "Pow": np.power, "Powx": _powx,
    "Modf": lambda x: np.modf(x)[::-1], "SinCos": lambda x: (np.sin(x), np.cos(x)),
}

# Where NumPy or SciPy part from C99, or from the runtime's documented domain.
REAL_SPECIAL_FIXES = {
    "ErfInv": lambda x, r: np.where(x == 0, x, r),  # an odd function keeps the zero's sign
    "ErfcInv": lambda x, r: np.where(x == 1, 0.0, r),  # +0, not SciPy's -0
    "LGamma": lambda x, r: np.where(x == -np.inf, np.inf, r),  # C99: lgamma(-inf) = +inf
    "Pow3o2": lambda x, r: np.where(x < 0, np.nan, r),  # defined for x >= 0 only
    # C99: tgamma(±0) = ±inf, NaN at the negative integers and -inf (older SciPy: inf).
    "TGamma": lambda x, r: np.where(x == 0, np.copysign(np.inf, x),
                                    np.where((x < 0) & (x == np.floor(x)), np.nan, r)),
}

# Where the runtime leaves the sign of a zero result open: its code paths for different
# processors give Pow3o2(-0) as +0 on some and as -0 on others.
ZERO_SIGN_OPEN = {
    "Pow3o2": lambda x: (x == 0) & np.signbit(x),
}

# The complex products, quotients and powers have no special values of their own here:
# C99 recovers infinities where NumPy's formulas give NaN.
COMPLEX_SPECIAL = {
    "Acos": np.arccos, "Acosh": np.arccosh, "Asin": np.arcsin, "Asinh": np.arcsinh,
    "Atan": np.arctan, "Atanh": np.arctanh, "Conj": np.conj, "Cos": np.cos, "Cosh": np.cosh,
    "Exp": np.exp, "Ln": np.log, "Log10": np.log10, "Sin": np.sin, "Sinh": np.sinh,
    "Sqrt": np.sqrt, "Tan": np.tan, "Tanh": np.tanh, "Abs": np.abs, "Arg": np.angle,
    "CIS": lambda x: np.cos(x) + 1j * np.sin(x), "Add": np.add, "Sub": np.subtract,
}

_NAN_NAN = complex(math.nan, math.nan)
COMPLEX_SPECIAL_FIXES = {
    # The runtime keeps the first C99 edition's NaN + iNaN for tanh(±0 ± i∞) and
    # tanh(±0 + iNaN), where later editions give ±0 + iNaN; tan mirrors it.
    "Tanh": lambda z, r: np.where((z.real == 0) & ~np.isfinite(z.imag), _NAN_NAN, r),
    "Tan": lambda z, r: np.where((z.imag == 0) & ~np.isfinite(z.real), _NAN_NAN, r),
    # And NaN + iNaN for acosh(±0 + iNaN), where C99 gives NaN ± iπ/2.
    "Acosh": lambda z, r: np.where((z.real == 0) & np.isnan(z.imag), _NAN_NAN, r),
}
