"""The part each parameter plays in a call, with everything an emitter needs of it.

A role says whether the parameter is an array or a single value, whether the runtime
writes it, what one value of it is in a precision, and so its C type in each
spelling: the by-value spelling passes single values by value, the by-reference
spellings (lower and upper case) by pointer; arrays are pointers in every spelling.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable

from .c_types import INT, LONGLONG, UINT, Pointer
from .precisions import Precision
from .records import VML_ERROR_CALLBACK
from .terms import Term


@dataclass(frozen=True, eq=False, repr=False)
class Role(Term):
    name: str
    bridge: str  # the bridge's name of the role (bridge::Role)
    array: bool  # an array, or a single value
    written: bool  # the runtime writes it
    value: Callable[[Precision | None], object]  # the C type of one value in a precision
    const: bool = False  # its pointer is to read-only values
    by_reference: bool = True  # the by-reference spellings pass it by pointer

    def c_type(self, precision: Precision | None, by_reference: bool):
        """Its C type in a precision (None for a service) and spelling."""
        value = self.value(precision)
        if self.array or (by_reference and self.by_reference):
            return Pointer(value, const=self.const)
        return value


def _element(precision):
    return precision.element


def _real(precision):
    return precision.real


def _fixed(c_type):
    return lambda precision: c_type


COUNT = Role("count", "count", array=False, written=False, value=_fixed(INT))
INPUT = Role("input", "input", array=True, written=False, value=_element, const=True)
OUTPUT = Role("output", "output", array=True, written=True, value=_element)
REAL_INPUT = Role("real_input", "input", array=True, written=False, value=_real, const=True)
REAL_OUTPUT = Role("real_output", "output", array=True, written=True, value=_real)
SCALAR = Role("scalar", "scalar", array=False, written=False, value=_element, const=True)
INCREMENT = Role("increment", "increment", array=False, written=False, value=_fixed(INT))
INDEXES = Role("indexes", "indexes", array=True, written=False, value=_fixed(INT))
MASK = Role("mask", "mask", array=True, written=False, value=_fixed(INT))
MODE = Role("mode", "mode", array=False, written=False, value=_fixed(LONGLONG))
MODE_VALUE = Role("mode_value", "mode", array=False, written=False, value=_fixed(UINT))
STATUS = Role("status", "value", array=False, written=False, value=_fixed(INT))
CALLBACK = Role("callback", "callback", array=False, written=False,
                value=_fixed(VML_ERROR_CALLBACK), by_reference=False)
