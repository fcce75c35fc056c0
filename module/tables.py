"""Emits the tables of the type context and the type indexes the wrappers read; the
globals table's entries, the bridge's wrappers, come from bridge/wrapper_table.py."""

from __future__ import annotations

from catalogue.c_types import Array, Function
from catalogue.functions import TYPE_NAMES
from catalogue.type_table import TypeTable, op_name
from runtime.declarations import HEADER, cpp_type


def type_indexes(table: TypeTable) -> str:
    lines = [HEADER, "#pragma once\n", '#include "runtime/runtime_records.hpp"\n',
             "namespace tessivec::module {\n",
             "using namespace tessivec::runtime;\n",
             "// Position of a type's own word in the type table.",
             "template <class T>",
             "inline constexpr int type_index = -1;\n"]
    for c_type, index in sorted(table.index.items(), key=lambda item: item[1]):
        if isinstance(c_type, Function) or isinstance(c_type, Array) or c_type.spelling == "void":
            continue
        lines.append(f"template <>\ninline constexpr int type_index<{cpp_type(c_type)}> = {index};")
    lines.append(f"\ninline constexpr int type_table_size = {len(table.words)};")
    lines.append(f"inline constexpr int globals_table_size = {len(table.functions)};")
    lines.append("\n}  // namespace tessivec::module")
    return "\n".join(lines) + "\n"


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
        "module/type_indexes.hpp": type_indexes(table),
        "module/type_table_words.inc": type_table_words(table),
        "module/record_tables.inc": record_tables(table),
    }
