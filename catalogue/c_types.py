"""The C types the catalogue is written in, with the spellings that order the type table.

A spelling is the C declarator of the type with no name in it; the type table sorts
types by their spelling with ``>`` appended, compared byte by byte.
"""

from __future__ import annotations

from dataclasses import dataclass

from cffi import cffi_opcode

# The backend's names of its primitive numbers, as parse_c_type.h spells them with the
# prefix _CFFI_: PRIM_DOUBLE for 14.
_PRIMITIVE_MACROS = {getattr(cffi_opcode, name): name for name in dir(cffi_opcode)
                     if name.startswith("PRIM_")}


@dataclass(frozen=True)
class Primitive:
    name: str  # C name: "int", "unsigned int", "long long", ...

    @property
    def spelling(self) -> str:
        return self.name

    @property
    def code(self) -> int:
        """The backend's primitive number."""
        if self.name == "void":  # the one primitive the backend's name table leaves out
            return cffi_opcode.PRIM_VOID
        return cffi_opcode.PRIMITIVE_TO_INDEX[self.name]

    @property
    def macro(self) -> str:
        """The name parse_c_type.h gives the primitive number: _CFFI_PRIM_DOUBLE."""
        return "_CFFI_" + _PRIMITIVE_MACROS[self.code]


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


VOID = Primitive("void")
CHAR = Primitive("char")
INT = Primitive("int")
UINT = Primitive("unsigned int")
LONGLONG = Primitive("long long")
FLOAT = Primitive("float")
DOUBLE = Primitive("double")
