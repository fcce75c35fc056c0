"""Emits the bridge's wrapper list: the globals table's entry of every offered function,
its Python-level wrapper (the name, runtime function, family and parameter roles it is
instantiated with), its calling kind and function type, and its direct-call entry."""

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


def family_reach(table: TypeTable) -> str:
    """For each bridge family, the array its reach rule measures and the rule (what
    length_check.hpp refuses short arrays by); every other array holds the count's
    number of elements."""
    rules = {}
    for f in table.functions:
        family = f.family
        if family.reached is None:
            rule = "{Rule::count, Role::count}"
        else:
            rule = f"{{Rule::{family.reach.name}, Role::{family.reached_role.bridge}}}"
        if rules.setdefault(f.bridge_family, rule) != rule:
            raise ValueError(f"bridge family {f.bridge_family} has two reach rules")
    lines = [HEADER, "constexpr FamilyReach reach_of(Family family) {", "    switch (family) {"]
    lines += [f"        case Family::{name}:\n            return {rule};"
              for name, rule in sorted(rules.items())]
    lines += ["    }", "    return {Rule::count, Role::count};", "}"]
    return "\n".join(lines) + "\n"


def outputs(table: TypeTable) -> dict[str, str]:
    # Included by module/globals_table.cpp, where the globals table is defined, and by
    # bridge/length_check.hpp.
    return {"module/globals_table_entries.inc": globals_table_entries(table),
            "bridge/family_reach.inc": family_reach(table)}
