"""The C types the catalogue is written in, with the spellings that order the type table.

A spelling is the C declarator of the type with no name in it; the type table sorts
types by their spelling with ``>`` appended, compared byte by byte.
"""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class Primitive:
    name: str  # C name: "int", "unsigned int", "long long", ...
    code: int  # the backend's primitive number

    @property
    def spelling(self) -> str:
        return self.name


@dataclass(frozen=True)
class Record:
    type_name: str  # the name code uses: MKL_Complex16
    tag: str | None  # the struct tag, None for an untagged record
    fields: tuple[tuple[str, object], ...]  # (field name, C type) in declaration order

    @property
    def spelling(self) -> str:
        return self.type_name

    @property
    def table_name(self) -> str:
        """The name the records table sorts and finds the record by."""
        return self.tag if self.tag is not None else "$" + self.type_name


@dataclass(frozen=True)
class Pointer:
    target: object
    const: bool = False  # the target is read-only

    @property
    def spelling(self) -> str:
        if isinstance(self.target, Function):
            return self.target.declarator("(*)")
        return self.target.spelling + (" const *" if self.const else " *")


@dataclass(frozen=True)
class Array:
    item: object
    length: int

    @property
    def spelling(self) -> str:
        return f"{self.item.spelling}[{self.length}]"


@dataclass(frozen=True)
class Function:
    result: object
    params: tuple[object, ...]

    def parameter_list(self) -> str:
        if not self.params:
            return "(void)"
        return "(" + ", ".join(p.spelling for p in self.params) + ")"

    def declarator(self, inner: str) -> str:
        """The spelling with ``inner`` where the name would stand.

        A result that is itself a pointer to a function wraps the whole declarator:
        ``int(*()(void))(DefVmlErrorContext *)``.
        """
        result = self.result
        if isinstance(result, Pointer) and isinstance(result.target, Function):
            return result.target.declarator("(*" + inner + self.parameter_list() + ")")
        return result.spelling + inner + self.parameter_list()

    @property
    def spelling(self) -> str:
        return self.declarator("()")


def sort_key(c_type) -> bytes:
    return (c_type.spelling + ">").encode("ascii")


VOID = Primitive("void", 0)
CHAR = Primitive("char", 2)
INT = Primitive("int", 7)
UINT = Primitive("unsigned int", 8)
LONGLONG = Primitive("long long", 11)
FLOAT = Primitive("float", 13)
DOUBLE = Primitive("double", 14)
