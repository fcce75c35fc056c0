"""Emits the tables of the type context: the type table's words, the records, their
fields and the type names. The globals table's entries come from globals_entries.py,
the type indexes the wrappers read from protocol/type_indexes.py."""

from __future__ import annotations

from catalogue.functions import TYPE_NAMES
from catalogue.type_table import TypeTable, op_name
from runtime.declarations import HEADER


def type_table_words(table: TypeTable) -> str:
    lines = [HEADER]
    for position, word in enumerate(table.words):
        if word.op is None:
            text = f"reinterpret_cast<_cffi_opcode_t>(std::uintptr_t{{{word.arg}}}),"
        else:
            text = f"_CFFI_OP({op_name(word.op)}, {word.arg_text}),"
        lines.append(f"{text:<45} // {position:3d} {word.comment}".rstrip())
    return "\n".join(lines) + "\n"


def record_tables(table: TypeTable) -> str:
    lines = [HEADER, "const _cffi_struct_union_s records_table[] = {"]
    first_field = 0
    for record in table.records:
        lines.append(
            f'    {{"{record.table_name}", {table.index[record]}, _CFFI_F_CHECK_FIELDS, '
            f"sizeof({record.type_name}), alignof({record.type_name}), "
            f"{first_field}, {len(record.fields)}}},")
        first_field += len(record.fields)
    lines += ["};\n", "const _cffi_field_s fields_table[] = {"]
    for record in table.records:
        for name, field_type in record.fields:
            lines.append(
                f'    {{"{name}", offsetof({record.type_name}, {name}), '
                f"sizeof({record.type_name}::{name}), "
                f"_CFFI_OP(_CFFI_OP_NOOP, {table.index[field_type]})}},")
    lines += ["};\n", "const _cffi_typename_s type_names_table[] = {"]
    for name in sorted(TYPE_NAMES, key=lambda n: n.encode("ascii")):
        lines.append(f'    {{"{name}", {table.index[TYPE_NAMES[name]]}}},')
    lines.append("};")
    return "\n".join(lines) + "\n"


def outputs(table: TypeTable) -> dict[str, str]:
    return {
        "module/type_table_words.inc": type_table_words(table),
        "module/record_tables.inc": record_tables(table),
    }
