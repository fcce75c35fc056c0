"""Emits the type indexes: where each type's own word stands in the type table, which
the wrappers read the backend's type objects from, and the type table's size."""

from __future__ import annotations

from catalogue.c_types import Array, Function
from catalogue.type_table import TypeTable
from runtime.declarations import HEADER, cpp_type


def type_indexes(table: TypeTable) -> str:
    lines = [HEADER, "#pragma once\n", '#include "runtime/runtime_records.hpp"\n',
             "namespace tessivec::protocol {\n",
             "using namespace tessivec::runtime;\n",
             "// Position of a type's own word in the type table.",
             "template <class T>",
             "inline constexpr int type_index = -1;\n"]
    for c_type, index in sorted(table.index.items(), key=lambda item: item[1]):
        if isinstance(c_type, Function) or isinstance(c_type, Array) or c_type.spelling == "void":
            continue
        lines.append(f"template <>\ninline constexpr int type_index<{cpp_type(c_type)}> = {index};")
    lines.append(f"\ninline constexpr int type_table_size = {len(table.words)};")
    lines.append("\n}  // namespace tessivec::protocol")
    return "\n".join(lines) + "\n"


def outputs(table: TypeTable) -> dict[str, str]:
    return {"protocol/type_indexes.hpp": type_indexes(table)}
