"""One record per operation: the only place an operation is described.

A record names the operation by its base name (``Exp``: vsExp, vmdExp, vzExp, ...),
says in one line what it computes (vm's docstring), which family its runtime functions
have in the real precisions (s, d) and in the complex ones (c, z), None where they do
not exist, whether they have ``m`` forms (a mode parameter, last), what vm calls it and
the identity of vm's ufunc, where NumPy's own ufunc of the operation has one; where vm's
ufunc takes its conditions from and how it reduces (catalogue/numpy_rules.py); the
order of its results where NumPy's same-named ufunc gives them in another order than the
runtime writes them; its counterpart: the function of NumPy (or SciPy) that computes
the same, whose NumPy name vm also binds to the operation's ufunc, with a line on where
the two differ; and whether lib offers its functions (``in_lib``).

lib offers the runtime functions of the records in ``LIB_OPERATIONS`` (with the service
functions, ``OFFERED_COUNT`` in catalogue/functions.py) and no others, so that its tables
stay as they are whatever operation vm gains. The records in ``VM_ONLY`` are vm's alone:
they carry ``in_lib=False``, and of their runtime functions vm calls the m forms.
"""

from __future__ import annotations

from dataclasses import dataclass

from .families import (
    COMPLEX_TO_REAL,
    LINEAR_FRAC,
    ONE_INPUT,
    PACK_INCREMENT,
    PACK_INDEXES,
    PACK_MASK,
    POWX,
    REAL_TO_COMPLEX,
    TWO_INPUT,
    TWO_OUTPUT,
    UNPACK_INCREMENT,
    UNPACK_INDEXES,
    UNPACK_MASK,
    Family,
)
from .numpy_rules import EVALUATED, PAIRWISE_SUM, PRODUCT, RUNTIME, ConditionSource, Reduction


@dataclass(frozen=True)
class Operation:
    name: str  # the base name
    description: str  # one line
    real: Family | None = None  # the family in s and d
    complex: Family | None = None  # the family in c and z
    mode_forms: bool = True  # the runtime also offers vms..., vmd..., with a mode
    vm_name: str | None = None  # what vm calls it; the base name in lower case if None
    identity: int | None = None  # of vm's ufunc, so that reduce works on empty input
    conditions: ConditionSource = RUNTIME  # where vm's ufunc takes its conditions from
    reduction: Reduction | None = None  # NumPy's own rule for reduce, where it has one
    # vm's results, each as its position among the runtime's written parameters, where
    # NumPy orders them otherwise (np.modf gives the fraction first)
    output_order: tuple[int, ...] | None = None
    # Whether lib offers its runtime functions; vm's ufunc exists either way
    in_lib: bool = True
    # The function of the same meaning: NumPy's name of it ("log", which vm binds to its
    # ufunc too), or the dotted name of SciPy's ("scipy.special.ndtr"); None where none
    counterpart: str | None = None
    # One line on where that function, or NumPy's function of the operation's name (or
    # of a name like it: np.round), answers otherwise than vm's ufunc
    numpy_difference: str | None = None

    def __post_init__(self):
        if self.vm_name is None:
            object.__setattr__(self, "vm_name", self.name.lower())

    @property
    def numpy_name(self) -> str | None:
        """NumPy's name of the counterpart, where it is NumPy's."""
        return self.counterpart if self.counterpart and "." not in self.counterpart else None

    @property
    def scipy_name(self) -> str | None:
        """The dotted name of the counterpart, where it is another library's (SciPy's)."""
        return self.counterpart if self.counterpart and "." in self.counterpart else None

    def family_in(self, precision) -> Family | None:
        return self.complex if precision.is_complex else self.real

    @property
    def families(self) -> tuple[Family, ...]:
        """Its families, the real one first."""
        return tuple(f for f in (self.real, self.complex) if f is not None)


# The operations lib offers, with vm.
LIB_OPERATIONS = (
    Operation("Abs", "Absolute value |a|; for complex a the modulus, a real result.",
              real=ONE_INPUT, complex=COMPLEX_TO_REAL,
              counterpart="absolute",
              numpy_difference="for complex a the modulus is rounded "
                               "within the accuracy's bound (vm.ep: about half the "
                               "bits), where numpy.absolute's is within an ulp"),
    Operation("Acos", "Inverse cosine of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="arccos"),
    Operation("Acosh", "Inverse hyperbolic cosine of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="arccosh",
              numpy_difference="acosh(±0 + NaNj) is NaN + NaNj, where "
                               "numpy.arccosh gives C99's NaN + πj/2"),
    Operation("Add", "Sum a + b.", real=TWO_INPUT, complex=TWO_INPUT, identity=0,
              conditions=EVALUATED, reduction=PAIRWISE_SUM, counterpart="add"),
    Operation("Arg", "Argument (phase angle) of complex a, a real result.",
              complex=COMPLEX_TO_REAL,
              counterpart="angle",
              numpy_difference="numpy.angle is a function with a deg= "
                               "option, not a ufunc; both give real a the angle of "
                               "a + 0j"),
    Operation("Asin", "Inverse sine of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="arcsin"),
    Operation("Asinh", "Inverse hyperbolic sine of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="arcsinh"),
    Operation("Atan", "Inverse tangent of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="arctan"),
    Operation("Atan2", "Four-quadrant inverse tangent of a / b.", real=TWO_INPUT,
              counterpart="arctan2"),
    Operation("Atanh", "Inverse hyperbolic tangent of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="arctanh"),
    Operation("Cbrt", "Cube root of a.", real=ONE_INPUT, counterpart="cbrt"),
    Operation("CdfNorm",
              "Cumulative distribution function of the standard normal distribution at a.",
              real=ONE_INPUT, counterpart="scipy.special.ndtr"),
    Operation("CdfNormInv",
              "Inverse cumulative distribution function of the standard normal distribution.",
              real=ONE_INPUT, counterpart="scipy.special.ndtri"),
    Operation("Ceil", "a rounded towards plus infinity.", real=ONE_INPUT, counterpart="ceil"),
    Operation("CIS", "cos(a) + i sin(a) of real a, a complex result.", complex=REAL_TO_COMPLEX),
    Operation("Conj", "Complex conjugate of a.", complex=ONE_INPUT, conditions=EVALUATED,
              counterpart="conjugate",
              numpy_difference="vm's loops are complex: real a gives a "
                               "complex result, where numpy.conjugate gives a back"),
    Operation("Cos", "Cosine of a.", real=ONE_INPUT, complex=ONE_INPUT, counterpart="cos"),
    Operation("Cosh", "Hyperbolic cosine of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="cosh"),
    Operation("Div", "Quotient a / b.", real=TWO_INPUT, complex=TWO_INPUT, conditions=EVALUATED,
              counterpart="divide"),
    Operation("Erf", "Error function of a.", real=ONE_INPUT, counterpart="scipy.special.erf"),
    Operation("Erfc", "Complementary error function 1 - erf(a).", real=ONE_INPUT,
              counterpart="scipy.special.erfc"),
    Operation("ErfcInv", "Inverse complementary error function of a.", real=ONE_INPUT,
              counterpart="scipy.special.erfcinv",
              numpy_difference="at 1 vm gives +0, scipy.special.erfcinv -0"),
    Operation("ErfInv", "Inverse error function of a.", real=ONE_INPUT,
              counterpart="scipy.special.erfinv",
              numpy_difference="at -0 vm gives -0, "
                               "scipy.special.erfinv +0"),
    Operation("Exp", "Exponential e**a.", real=ONE_INPUT, complex=ONE_INPUT, counterpart="exp"),
    Operation("Expm1", "e**a - 1, accurate for small a.", real=ONE_INPUT, counterpart="expm1"),
    Operation("Floor", "a rounded towards minus infinity.", real=ONE_INPUT,
              counterpart="floor"),
    Operation("Frac", "Signed fractional part a - trunc(a).", real=ONE_INPUT),
    Operation("Hypot", "Hypotenuse sqrt(a**2 + b**2).", real=TWO_INPUT, identity=0,
              conditions=EVALUATED, counterpart="hypot"),
    Operation("Inv", "Reciprocal 1 / a.", real=ONE_INPUT, conditions=EVALUATED,
              counterpart="reciprocal"),
    Operation("InvCbrt", "Reciprocal cube root 1 / cbrt(a).", real=ONE_INPUT),
    Operation("InvSqrt", "Reciprocal square root 1 / sqrt(a).", real=ONE_INPUT),
    Operation("LGamma", "Natural logarithm of the absolute value of the gamma function of a.",
              real=ONE_INPUT,
              counterpart="scipy.special.gammaln",
              numpy_difference="at -inf vm gives +inf (C99's "
                               "lgamma), scipy.special.gammaln -inf; at subnormal a "
                               "vm's is finite, SciPy's inf"),
    Operation("LinearFrac", "Linear fraction (scalea * a + shifta) / (scaleb * b + shiftb).",
              real=LINEAR_FRAC, conditions=EVALUATED),
    Operation("Ln", "Natural logarithm of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="log"),
    Operation("Log10", "Base-10 logarithm of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="log10"),
    Operation("Log1p", "ln(1 + a), accurate for small a.", real=ONE_INPUT, counterpart="log1p"),
    Operation("Modf",
              "Signed fractional part a - trunc(a) and integer part trunc(a), two results.",
              real=TWO_OUTPUT, output_order=(1, 0), counterpart="modf"),
    Operation("Mul", "Product a * b.", real=TWO_INPUT, complex=TWO_INPUT, identity=1,
              conditions=EVALUATED, reduction=PRODUCT, counterpart="multiply"),
    Operation("MulByConj", "Product a * conj(b).", complex=TWO_INPUT, conditions=EVALUATED),
    Operation("NearbyInt",
              "a rounded to an integer in the current rounding mode, raising no inexact flag.",
              real=ONE_INPUT,
              counterpart="rint",
              numpy_difference="NumPy's name is vm.rint's; the two round alike, "
                               "as numpy.rint does, and NumPy reports no inexact "
                               "result"),
    Operation("Pow", "Power a**b.", real=TWO_INPUT, complex=TWO_INPUT,
              counterpart="power",
              numpy_difference="complex powers are exp(b * ln a): 0**0 is "
                               "NaN (NumPy: 1), and integer powers of negative or "
                               "imaginary bases have a rounding error in a part "
                               "NumPy gives as exactly 0"),
    Operation("Pow2o3", "a**(2/3).", real=ONE_INPUT),
    Operation("Pow3o2", "a**(3/2).", real=ONE_INPUT),
    Operation("Powx", "Power a**b with one scalar exponent b.", real=POWX, complex=POWX,
              numpy_difference="numpy.power with a scalar b computes it; "
                               "NumPy's name is vm.pow's"),
    Operation("Rint", "a rounded to an integer in the current rounding mode.", real=ONE_INPUT,
              counterpart="rint"),
    Operation("Round", "a rounded to the nearest integer, halfway cases away from zero.",
              real=ONE_INPUT,
              numpy_difference="numpy.round and numpy.rint round halfway cases "
                               "to even; vm.round rounds them away from zero, as C's "
                               "round does"),
    Operation("Sin", "Sine of a.", real=ONE_INPUT, complex=ONE_INPUT, counterpart="sin"),
    Operation("SinCos", "Sine and cosine of a, two results.", real=TWO_OUTPUT),
    Operation("Sinh", "Hyperbolic sine of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="sinh"),
    Operation("Sqr", "Square a * a.", real=ONE_INPUT, conditions=EVALUATED,
              counterpart="square"),
    Operation("Sqrt", "Square root of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="sqrt"),
    Operation("Sub", "Difference a - b.", real=TWO_INPUT, complex=TWO_INPUT, conditions=EVALUATED,
              counterpart="subtract"),
    Operation("Tan", "Tangent of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="tan",
              numpy_difference="tan(±inf ± 0j) and tan(NaN ± 0j) are NaN + NaNj "
                               "(C99's first edition), where numpy.tan keeps the "
                               "zero: NaN ± 0j"),
    Operation("Tanh", "Hyperbolic tangent of a.", real=ONE_INPUT, complex=ONE_INPUT,
              counterpart="tanh",
              numpy_difference="tanh(±0 ± inf j) and tanh(±0 + NaNj) are NaN "
                               "+ NaNj (C99's first edition), where numpy.tanh keeps "
                               "the zero: ±0 + NaNj"),
    Operation("TGamma", "Gamma function of a.", real=ONE_INPUT,
              counterpart="scipy.special.gamma"),
    Operation("Trunc", "a rounded towards zero.", real=ONE_INPUT, counterpart="trunc"),
    *(Operation(name, description, real=family, complex=family, mode_forms=False)
      for name, description, family in (
          ("PackI", "Gathers n elements of a, every incr-th from the first.", PACK_INCREMENT),
          ("PackV", "Gathers the elements of a at the positions in index.", PACK_INDEXES),
          ("PackM", "Gathers the elements of a where mask is non-zero.", PACK_MASK),
          ("UnpackI", "Scatters a into out, to every incr-th element from the first.",
           UNPACK_INCREMENT),
          ("UnpackV", "Scatters a into out, to the positions in index.", UNPACK_INDEXES),
          ("UnpackM", "Scatters a into out, to the elements where mask is non-zero.",
           UNPACK_MASK))),
)



def _vm_only(name: str, description: str, family: Family, **rules) -> Operation:
    """An operation of the runtime's s and d precisions, with m forms, that only vm offers."""
    return Operation(name, description, real=family, in_lib=False, **rules)


# C leaves open which zero fmax and fmin give for +0 and -0; NumPy gives the first.
_ZERO_TIE = ("of +0 and -0 the runtime gives b, where np.{} gives a: the sign of a zero "
             "result can differ")

# The runtime's real functions that lib does not offer, as vm ufuncs.
VM_ONLY = (
    _vm_only("Acospi", "Inverse cosine of a, divided by pi.", ONE_INPUT),
    _vm_only("Asinpi", "Inverse sine of a, divided by pi.", ONE_INPUT),
    _vm_only("Atan2pi", "Four-quadrant inverse tangent of a / b, divided by pi.", TWO_INPUT,
             conditions=EVALUATED),
    _vm_only("Atanpi", "Inverse tangent of a, divided by pi.", ONE_INPUT),
    _vm_only("CopySign", "The magnitude of a with the sign of b.", TWO_INPUT,
             conditions=EVALUATED, counterpart="copysign"),
    _vm_only("Cosd", "Cosine of a in degrees.", ONE_INPUT),
    _vm_only("Cospi", "Cosine of pi * a.", ONE_INPUT),
    _vm_only("Erfcx", "Scaled complementary error function exp(a**2) * erfc(a).", ONE_INPUT),
    _vm_only("Exp10", "Base-10 exponential 10**a.", ONE_INPUT),
    _vm_only("Exp2", "Base-2 exponential 2**a.", ONE_INPUT, counterpart="exp2"),
    _vm_only("ExpInt1", "Exponential integral E1(a) of positive a.", ONE_INPUT),
    _vm_only("Fdim", "Positive difference a - b where a > b, else +0.", TWO_INPUT,
             conditions=EVALUATED),
    _vm_only("Fmax", "The larger of a and b; a NaN operand gives way to the other.", TWO_INPUT,
             conditions=EVALUATED, counterpart="fmax",
             numpy_difference=_ZERO_TIE.format("fmax")),
    _vm_only("Fmin", "The smaller of a and b; a NaN operand gives way to the other.", TWO_INPUT,
             conditions=EVALUATED, counterpart="fmin",
             numpy_difference=_ZERO_TIE.format("fmin")),
    _vm_only("Fmod", "Remainder of a / b with the sign of a, as C's fmod (truncated quotient).",
             TWO_INPUT, conditions=EVALUATED, counterpart="fmod"),
    _vm_only("I0", "Modified Bessel function of the first kind of order 0.", ONE_INPUT,
             numpy_difference="np.i0, a function rather than a ufunc, gives NaN with an "
                              "invalid warning for infinities and overflows from |a| of "
                              "about 709.8 on, where the runtime gives +inf and the finite "
                              "results up to 713.98"),
    _vm_only("I1", "Modified Bessel function of the first kind of order 1.", ONE_INPUT),
    _vm_only("J0", "Bessel function of the first kind of order 0.", ONE_INPUT),
    _vm_only("J1", "Bessel function of the first kind of order 1.", ONE_INPUT),
    _vm_only("Jn", "Bessel function of the first kind of order b, one scalar b.", POWX),
    _vm_only("Log2", "Base-2 logarithm of a.", ONE_INPUT, counterpart="log2"),
    _vm_only("Logb", "Exponent of a as a floating-point value: floor(log2(|a|)).", ONE_INPUT),
    _vm_only("MaxMag", "Of a and b the one of larger magnitude; fmax(a, b) if they tie.",
             TWO_INPUT),
    _vm_only("MinMag", "Of a and b the one of smaller magnitude; fmin(a, b) if they tie.",
             TWO_INPUT),
    _vm_only("NextAfter", "The next floating-point value after a in the direction of b.",
             TWO_INPUT, conditions=EVALUATED, counterpart="nextafter"),
    _vm_only("Powr", "Power a**b of a >= 0, as exp(b * ln(a)) is defined.", TWO_INPUT),
    _vm_only("Remainder",
             "IEEE 754 remainder a - n * b, n the quotient a / b rounded to the nearest "
             "integer (ties to even), as C's remainder.", TWO_INPUT, conditions=EVALUATED,
             numpy_difference="np.remainder is Python's modulo (floored quotient, the sign of "
                              "b); this is C's and math.remainder's IEEE remainder (nearest "
                              "quotient, a result of at most |b| / 2 in magnitude)"),
    _vm_only("Sind", "Sine of a in degrees.", ONE_INPUT),
    _vm_only("Sinpi", "Sine of pi * a.", ONE_INPUT),
    _vm_only("Tand", "Tangent of a in degrees.", ONE_INPUT),
    _vm_only("Tanpi", "Tangent of pi * a.", ONE_INPUT),
    _vm_only("Y0", "Bessel function of the second kind of order 0.", ONE_INPUT),
    _vm_only("Y1", "Bessel function of the second kind of order 1.", ONE_INPUT),
    _vm_only("Yn", "Bessel function of the second kind of order b, one scalar b.", POWX),
)

OPERATIONS = LIB_OPERATIONS + VM_ONLY

BY_NAME = {operation.name: operation for operation in OPERATIONS}
