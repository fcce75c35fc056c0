"""The catalogue: every function the module offers, derived from base-name groups.

This file is the one place where functions are described. The build generates the
runtime declarations, the type context tables and the wrapper list from it, and the
Python package reads it for its own interface.

A math function's name is ``v``, an optional ``m`` (one more parameter: the mode, last),
a precision letter and a base name; every mixed-case name is offered three times: as
written (arguments by value) and wholly lower and upper case (every argument by pointer).
"""

from __future__ import annotations

from dataclasses import dataclass
from functools import cached_property

from .c_types import (
    CHAR,
    DOUBLE,
    FLOAT,
    INT,
    LONGLONG,
    UINT,
    VOID,
    Array,
    Function,
    Pointer,
    Record,
)

# --- records the runtime shares with its callers -------------------------------------

MKL_COMPLEX8 = Record("MKL_Complex8", "_MKL_Complex8", (("real", FLOAT), ("imag", FLOAT)))
MKL_COMPLEX16 = Record("MKL_Complex16", "_MKL_Complex16", (("real", DOUBLE), ("imag", DOUBLE)))
DEF_VML_ERROR_CONTEXT = Record("DefVmlErrorContext", "_DefVmlErrorContext", (
    ("iCode", INT), ("iIndex", INT),
    ("dbA1", DOUBLE), ("dbA2", DOUBLE), ("dbR1", DOUBLE), ("dbR2", DOUBLE),
    ("cFuncName", Array(CHAR, 64)), ("iFuncNameLen", INT),
    ("dbA1Im", DOUBLE), ("dbA2Im", DOUBLE), ("dbR1Im", DOUBLE), ("dbR2Im", DOUBLE),
))
MKL_VERSION = Record("MKLVersion", None, (
    ("MajorVersion", INT), ("MinorVersion", INT), ("UpdateVersion", INT),
    ("ProductStatus", Pointer(CHAR)), ("Build", Pointer(CHAR)),
    ("Processor", Pointer(CHAR)), ("Platform", Pointer(CHAR)),
))
RECORDS = (MKL_COMPLEX8, MKL_COMPLEX16, DEF_VML_ERROR_CONTEXT, MKL_VERSION)

VML_ERROR_CALLBACK = Pointer(Function(INT, (Pointer(DEF_VML_ERROR_CONTEXT),)))

# Type names known to ffi, with the types they stand for.
TYPE_NAMES = {
    "DefVmlErrorContext": DEF_VML_ERROR_CONTEXT,
    "MKLVersion": MKL_VERSION,
    "MKL_Complex16": MKL_COMPLEX16,
    "MKL_Complex8": MKL_COMPLEX8,
    "VMLErrorCallBack": VML_ERROR_CALLBACK,
}

# --- precisions ----------------------------------------------------------------------


@dataclass(frozen=True)
class Precision:
    letter: str
    element: object  # element type of the arrays
    real: object  # real type of the same precision
    numpy_dtype: str

    @property
    def is_complex(self) -> bool:
        return isinstance(self.element, Record)


PRECISIONS = {
    "s": Precision("s", FLOAT, FLOAT, "float32"),
    "d": Precision("d", DOUBLE, DOUBLE, "float64"),
    "c": Precision("c", MKL_COMPLEX8, FLOAT, "complex64"),
    "z": Precision("z", MKL_COMPLEX16, DOUBLE, "complex128"),
}
REAL_LETTERS = ("s", "d")
COMPLEX_LETTERS = ("c", "z")

# --- base-name groups ----------------------------------------------------------------

COMMON_BASES = (
    "Abs Acos Acosh Add Asin Asinh Atan Atanh Cos Cosh Div Exp Ln Log10 Mul Pow Powx "
    "Sin Sinh Sqrt Sub Tan Tanh").split()
REAL_ONLY_BASES = (
    "Atan2 Cbrt CdfNorm CdfNormInv Ceil Erf Erfc ErfcInv ErfInv Expm1 Floor Frac Hypot Inv "
    "InvCbrt InvSqrt LGamma LinearFrac Log1p Modf NearbyInt Pow2o3 Pow3o2 Rint Round SinCos "
    "Sqr TGamma Trunc").split()
COMPLEX_ONLY_BASES = "Arg CIS Conj MulByConj".split()
PACK_UNPACK_BASES = "PackI PackM PackV UnpackI UnpackM UnpackV".split()

# --- families: the parameters after the count and before the mode ---------------------
# Roles: input/output are arrays of the element type, real_input/real_output arrays of
# the real type of the same precision; scalar is one element-type value; increment is an
# int; indexes and mask are int arrays.

FAMILIES = {
    "one_input": (("a", "input"), ("r", "output")),
    "two_input": (("a", "input"), ("b", "input"), ("r", "output")),
    "powx": (("a", "input"), ("b", "scalar"), ("r", "output")),
    "linear_frac": (("a", "input"), ("b", "input"), ("scalea", "scalar"), ("shifta", "scalar"),
                    ("scaleb", "scalar"), ("shiftb", "scalar"), ("r", "output")),
    "two_output": (("a", "input"), ("r1", "output"), ("r2", "output")),
    "complex_to_real": (("a", "input"), ("r", "real_output")),
    "real_to_complex": (("a", "real_input"), ("r", "output")),
    "pack_increment": (("a", "input"), ("incra", "increment"), ("y", "output")),
    "pack_indexes": (("a", "input"), ("ia", "indexes"), ("y", "output")),
    "pack_mask": (("a", "input"), ("ma", "mask"), ("y", "output")),
    "unpack_increment": (("a", "input"), ("y", "output"), ("incry", "increment")),
    "unpack_indexes": (("a", "input"), ("y", "output"), ("iy", "indexes")),
    "unpack_mask": (("a", "input"), ("y", "output"), ("my", "mask")),
}

REAL_FAMILY_MEMBERS = {
    "one_input": (
        "Abs Acos Acosh Asin Asinh Atan Atanh Cbrt CdfNorm CdfNormInv Ceil Cos Cosh Erf Erfc "
        "ErfcInv ErfInv Exp Expm1 Floor Frac Inv InvCbrt InvSqrt LGamma Ln Log10 Log1p NearbyInt "
        "Pow2o3 Pow3o2 Rint Round Sin Sinh Sqr Sqrt Tan Tanh TGamma Trunc").split(),
    "two_input": "Add Atan2 Div Hypot Mul Pow Sub".split(),
    "powx": ["Powx"],
    "linear_frac": ["LinearFrac"],
    "two_output": ["Modf", "SinCos"],
}
COMPLEX_FAMILY_MEMBERS = {
    "one_input": (
        "Acos Acosh Asin Asinh Atan Atanh Conj Cos Cosh Exp Ln Log10 Sin Sinh Sqrt Tan "
        "Tanh").split(),
    "two_input": "Add Div Mul MulByConj Pow Sub".split(),
    "powx": ["Powx"],
    "complex_to_real": ["Abs", "Arg"],
    "real_to_complex": ["CIS"],
}
PACK_FAMILY_MEMBERS = {
    "pack_increment": ["PackI"], "pack_indexes": ["PackV"], "pack_mask": ["PackM"],
    "unpack_increment": ["UnpackI"], "unpack_indexes": ["UnpackV"], "unpack_mask": ["UnpackM"],
}

# --- service functions -----------------------------------------------------------------


@dataclass(frozen=True)
class Service:
    operation: str  # the name after "vml"
    result: object
    parameter: tuple[str, str] | None = None  # (name, role)
    callback_effect: str | None = None  # "setter" or "clearer" of the error callback


SERVICES = (
    Service("SetMode", UINT, ("mode", "mode_value")),
    Service("GetMode", UINT),
    Service("SetErrStatus", INT, ("status", "status")),
    Service("GetErrStatus", INT),
    Service("ClearErrStatus", INT),
    Service("SetErrorCallBack", VML_ERROR_CALLBACK, ("callback", "callback"), "setter"),
    Service("GetErrorCallBack", VML_ERROR_CALLBACK),
    Service("ClearErrorCallBack", VML_ERROR_CALLBACK, callback_effect="clearer"),
)

# --- the derived catalogue -------------------------------------------------------------

SPELLINGS = ("value", "lower", "upper")


@dataclass(frozen=True)
class Parameter:
    name: str
    role: str
    c_type: object


@dataclass(frozen=True)
class Offered:
    """One offered function in one spelling."""

    name: str  # the name lib offers it under
    mixed_name: str  # its by-value spelling
    spelling: str  # "value", "lower" or "upper"
    base: str | None  # None for a service function
    letter: str | None
    with_mode: bool
    family: str  # a FAMILIES key, or "service"
    params: tuple[Parameter, ...]
    result: object
    callback_effect: str | None = None  # how a service function changes the error callback

    @property
    def by_reference(self) -> bool:
        return self.spelling != "value"

    @property
    def runtime_symbol(self) -> str:
        # On Linux the runtime exports the by-reference spellings only in Fortran style,
        # with a trailing underscore; the by-value spelling under its own name.
        return self.name + "_" if self.by_reference else self.name

    @cached_property
    def function_type(self) -> Function:
        return Function(self.result, tuple(p.c_type for p in self.params))


def spell(mixed_name: str, spelling: str) -> str:
    return {"value": mixed_name, "lower": mixed_name.lower(), "upper": mixed_name.upper()}[spelling]


def _math_param_type(role: str, precision: Precision, by_reference: bool):
    element, real = precision.element, precision.real
    return {
        "count": Pointer(INT) if by_reference else INT,
        "input": Pointer(element, const=True),
        "output": Pointer(element),
        "real_input": Pointer(real, const=True),
        "real_output": Pointer(real),
        "scalar": Pointer(element, const=True) if by_reference else element,
        "increment": Pointer(INT) if by_reference else INT,
        "indexes": Pointer(INT),
        "mask": Pointer(INT),
        "mode": Pointer(LONGLONG) if by_reference else LONGLONG,
    }[role]


def _service_param_type(role: str, by_reference: bool):
    return {
        "mode_value": Pointer(UINT) if by_reference else UINT,
        "status": Pointer(INT) if by_reference else INT,
        "callback": VML_ERROR_CALLBACK,  # by value in every spelling
    }[role]


def family_of(base: str, letter: str) -> str | None:
    """The family of a base name in a precision, or None where it does not exist."""
    if letter in REAL_LETTERS:
        groups = REAL_FAMILY_MEMBERS
    else:
        groups = COMPLEX_FAMILY_MEMBERS
    for members in (groups, PACK_FAMILY_MEMBERS):
        for family, names in members.items():
            if base in names:
                return family
    return None


def _bases_for(letter: str) -> list[str]:
    own = REAL_ONLY_BASES if letter in REAL_LETTERS else COMPLEX_ONLY_BASES
    return COMMON_BASES + own + PACK_UNPACK_BASES


def _math_functions():
    for letter, precision in PRECISIONS.items():
        for base in _bases_for(letter):
            family = family_of(base, letter)
            forms = (False,) if base in PACK_UNPACK_BASES else (False, True)
            for with_mode in forms:
                mixed = ("vm" if with_mode else "v") + letter + base
                mode = (("mode", "mode"),) if with_mode else ()
                roles = (("n", "count"),) + FAMILIES[family] + mode
                for spelling in SPELLINGS:
                    by_ref = spelling != "value"
                    params = tuple(Parameter(name, role, _math_param_type(role, precision, by_ref))
                                   for name, role in roles)
                    yield Offered(spell(mixed, spelling), mixed, spelling, base, letter, with_mode,
                                  family, params, VOID)


def _service_functions():
    for service in SERVICES:
        mixed = "vml" + service.operation
        for spelling in SPELLINGS:
            params = ()
            if service.parameter is not None:
                name, role = service.parameter
                params = (Parameter(name, role, _service_param_type(role, spelling != "value")),)
            yield Offered(spell(mixed, spelling), mixed, spelling, None, None, False, "service",
                          params, service.result, service.callback_effect)


def offered_functions() -> list[Offered]:
    """All offered functions, in the byte order of their names."""
    functions = list(_math_functions()) + list(_service_functions())
    return sorted(functions, key=lambda f: f.name.encode("ascii"))
