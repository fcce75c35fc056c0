"""Emits the bridge's wrapper list: the globals table's entry of every offered function,
its Python-level wrapper (the name, runtime function, family and parameter roles it is
instantiated with), its calling kind and function type, and its direct-call entry."""

from __future__ import annotations

from catalogue.type_table import TypeTable
from runtime.declarations import HEADER

# The bridge's names for the catalogue's parameter roles and families.
BRIDGE_ROLES = {"real_input": "input", "real_output": "output", "mode_value": "mode",
                "status": "value"}
ELEMENTWISE_FAMILIES = {"one_input", "two_input", "powx", "linear_frac", "two_output",
                        "complex_to_real", "real_to_complex"}


def bridge_family(function) -> str:
    if function.family in ELEMENTWISE_FAMILIES:
        return "elementwise"
    if function.callback_effect is not None:
        return f"error_callback_{function.callback_effect}"
    return function.family


def wrapper(function) -> str:
    shape = [f"Family::{bridge_family(function)}"]
    shape += [f"Role::{BRIDGE_ROLES.get(p.role, p.role)}" for p in function.params]
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


def outputs(table: TypeTable) -> dict[str, str]:
    # Included by module/globals_table.cpp, where the globals table is defined.
    return {"module/globals_table_entries.inc": globals_table_entries(table)}
