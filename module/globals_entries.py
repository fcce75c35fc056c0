"""Emits the globals table's entries: for every offered function its name, its Python-level
wrapper (the bridge's template, instantiated with the name, runtime function, family
and parameter roles), its calling kind and function type, and its direct-call entry."""

from __future__ import annotations

from catalogue.type_table import TypeTable
from runtime.declarations import HEADER


def wrapper(function) -> str:
    shape = [f"Family::{function.bridge_family}"]
    shape += [f"Role::{p.role.bridge}" for p in function.params]
    return (f'python_wrapper<"{function.name}", &{function.runtime_symbol}, '
            f'{", ".join(shape)}>')


def globals_table_entries(table: TypeTable) -> str:
    lines = [HEADER]
    for f in table.functions:
        kind = ("_CFFI_OP_CPYTHON_BLTN_N", "_CFFI_OP_CPYTHON_BLTN_O")[len(f.params)] \
            if len(f.params) < 2 else "_CFFI_OP_CPYTHON_BLTN_V"
        lines.append(
            f"{{\"{f.name}\", reinterpret_cast<void*>(&{wrapper(f)}), "
            f"_CFFI_OP({kind}, {table.index[f.function_type]}), "
            f"reinterpret_cast<void*>(&DirectCall<&{f.runtime_symbol}>::call)}},")
    return "\n".join(lines) + "\n"


def globals_count(table: TypeTable) -> str:
    return "\n".join([HEADER, "#pragma once\n", "namespace tessivec::module {\n",
                      f"inline constexpr int globals_table_size = {len(table.functions)};",
                      "\n}  // namespace tessivec::module"]) + "\n"


def outputs(table: TypeTable) -> dict[str, str]:
    # Included by module/globals_table.cpp, where the globals table is defined; its size
    # by what refers to the table.
    return {"module/globals_table_entries.inc": globals_table_entries(table),
            "module/globals_count.hpp": globals_count(table)}
