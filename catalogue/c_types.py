"""The C types the catalogue is written in: the spellings that order the type table, and
the C declarations every emitter writes.

A spelling is the C declarator of the type with no name in it; the type table sorts
types by their spelling with ``>`` appended, compared byte by byte. A declaration
(``declare``) names a type as C code names it, by its typedef where one names it
(``VMLErrorCallBack``): the runtime's declarations, the recording runtime, an ABI-mode
binding's cdef and the type stubs all take theirs from here.
"""

from __future__ import annotations

from dataclasses import dataclass, field

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

    def declare(self, inner: str = "") -> str:
        return f"{self.name} {inner}".rstrip()


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

    def declare(self, inner: str = "") -> str:
        return f"{self.type_name} {inner}".rstrip()

    def field_declarations(self) -> str:
        return " ".join(f"{c_type.declare(name)};" for name, c_type in self.fields)

    def c_definition(self) -> str:
        """Its definition in C: ``typedef struct _MKL_Complex8 { ... } MKL_Complex8;``."""
        tag = f"{self.tag} " if self.tag is not None else ""
        return f"typedef struct {tag}{{ {self.field_declarations()} }} {self.type_name};"


@dataclass(frozen=True)
class Pointer:
    target: object
    const: bool = False  # the target is read-only
    # The typedef that names the type in C code, where one does; a name, not a
    # different type: the type table knows the type by its spelling.
    name: str | None = field(default=None, compare=False)

    @property
    def spelling(self) -> str:
        if isinstance(self.target, Function):
            return self.target.declarator("(*)")
        return self.target.spelling + (" const *" if self.const else " *")

    def declare(self, inner: str = "") -> str:
        if self.name is not None:
            return f"{self.name} {inner}".rstrip()
        return self.declare_unnamed(inner)

    def declare_unnamed(self, inner: str = "") -> str:
        """Its declaration written out, whatever typedef names it."""
        if isinstance(self.target, Function):
            return self.target.declare(f"(*{inner})")
        return self.target.declare(("const *" if self.const else "*") + inner)

    def c_typedef(self) -> str:
        """The typedef that names it: ``typedef int (*VMLErrorCallBack)(...);``."""
        return f"typedef {self.declare_unnamed(self.name)};"


@dataclass(frozen=True)
class Array:
    item: object
    length: int

    @property
    def spelling(self) -> str:
        return f"{self.item.spelling}[{self.length}]"

    def declare(self, inner: str = "") -> str:
        return self.item.declare(f"{inner}[{self.length}]")


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

    def declare(self, inner: str = "") -> str:
        params = ", ".join(p.declare() for p in self.params) or "void"
        return self.result.declare(f"{inner}({params})")


def function_declaration(result, name: str, parameters) -> str:
    """The C declaration of function `name` returning `result`, with its named
    `parameters` (pairs of C type and name)."""
    params = ", ".join(c_type.declare(p) for c_type, p in parameters) or "void"
    return result.declare(f"{name}({params})")


def sort_key(c_type) -> bytes:
    return (c_type.spelling + ">").encode("ascii")


VOID = Primitive("void")
CHAR = Primitive("char")
INT = Primitive("int")
UINT = Primitive("unsigned int")
LONGLONG = Primitive("long long")
FLOAT = Primitive("float")
DOUBLE = Primitive("double")
