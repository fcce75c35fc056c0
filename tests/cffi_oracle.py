"""The tables CFFI's own compiler would register for the catalogue's declarations.

The catalogue is written out as a C cdef (its records, the callback type and every
offered function), which CFFI parses with its own C parser; CFFI's ``Recompiler`` then
lays out the type table, globals, records, fields and type names as it would for a
generated module. Record sizes, alignments and field offsets are C expressions in its
output, so they come from an ABI-mode ``FFI`` of the same cdef, which computes the C
layout itself. Nothing here is built or loaded: the tables serve only as the expected
values of what the module hands the backend.
"""

from __future__ import annotations

from dataclasses import dataclass

import cffi
from cffi import cffi_opcode
from cffi.recompiler import Recompiler
from vantrel.mkl._catalogue.c_types import Array, Function, Pointer, Primitive, Record
from vantrel.mkl._catalogue.functions import RECORDS, VML_ERROR_CALLBACK, offered_functions


def declaration(c_type, inner: str = "") -> str:
    """The C declaration of `inner` as `c_type`, written out afresh from the structure
    of the type (not from the catalogue's own spellings, which order the module's
    table)."""
    if isinstance(c_type, Primitive):
        return f"{c_type.name} {inner}".rstrip()
    if isinstance(c_type, Record):
        return f"{c_type.type_name} {inner}".rstrip()
    if isinstance(c_type, Pointer):
        if isinstance(c_type.target, Function):
            return declaration(c_type.target, f"(*{inner})")
        return declaration(c_type.target, ("const *" if c_type.const else "*") + inner)
    if isinstance(c_type, Array):
        return declaration(c_type.item, f"{inner}[{c_type.length}]")
    if isinstance(c_type, Function):
        params = ", ".join(declaration(p) for p in c_type.params) or "void"
        return declaration(c_type.result, f"{inner}({params})")
    raise TypeError(c_type)


def catalogue_cdef() -> str:
    lines = []
    for record in RECORDS:
        fields = " ".join(declaration(t, name) + ";" for name, t in record.fields)
        lines.append(f"typedef struct {record.tag or ''} {{ {fields} }} {record.type_name};")
    lines.append(f"typedef {declaration(VML_ERROR_CALLBACK, 'VMLErrorCallBack')};")
    lines += [declaration(f.function_type, f.name) + ";" for f in offered_functions()]
    return "\n".join(lines) + "\n"


def word(op: cffi_opcode.CffiOp) -> int:
    """A type-table word as the backend reads it: the opcode in the low byte, its
    argument above; an array's length word is the bare length."""
    if op.op is None:
        return int(op.arg)
    return op.op | (op.arg << 8)


@dataclass(frozen=True)
class ExpectedContext:
    types: list  # words
    globals: list  # (name, type op)
    records: list  # (name, type index, flags, size, alignment, first field, field count)
    fields: list  # (name, offset, size, type op)
    type_names: list  # (name, type index)
    enums: int
    flags: int


def expected_context(module_name: str) -> ExpectedContext:
    source = catalogue_cdef()
    parsed = cffi.FFI()
    parsed.cdef(source)
    recompiler = Recompiler(parsed, module_name)
    recompiler.collect_type_table()
    recompiler.collect_step_tables()
    tables = recompiler._lsts
    layout = cffi.FFI()  # ABI mode: C layout rules, computed by the backend itself
    layout.cdef(source)
    struct_types = sorted(recompiler._struct_unions, key=recompiler._struct_unions.get)
    records, fields = [], []
    for struct_type, entry in zip(struct_types, tables["struct_union"]):
        c_type = layout.typeof(struct_type.get_c_name())
        records.append((entry.name, entry.type_index,
                        eval(entry.flags, dict(cffi_opcode.G_FLAGS)),
                        layout.sizeof(c_type), layout.alignof(c_type),
                        entry.first_field_index, len(entry.c_fields)))
        for (name, field), expr in zip(c_type.fields, entry.c_fields):
            assert expr.name == name
            fields.append((name, field.offset, layout.sizeof(field.type),
                           word(expr.field_type_op)))
    return ExpectedContext(
        types=[word(op) for op in recompiler.cffi_types],
        globals=[(g.name, word(g.type_op)) for g in tables["global"]],
        records=records,
        fields=fields,
        type_names=[(t.name, t.type_index) for t in tables["typename"]],
        enums=len(tables["enum"]),
        flags=1 if recompiler._num_externpy else 0,
    )
