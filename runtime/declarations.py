"""Emits the declarations of the runtime functions and records the module calls and
shares, and the link stub that stands in for the runtime library at build time."""

from __future__ import annotations

from catalogue.c_types import function_declaration
from catalogue.families import SERVICE
from catalogue.functions import RECORDS, VML_ERROR_CALLBACK, vm_only_functions
from catalogue.mode_values import ACCURACIES, MODE_VALUES, STATUS_CODES
from catalogue.type_table import TypeTable

# Runtime functions the module calls besides the offered ones.
SUPPORT_SYMBOLS = ("MKL_Set_Interface_Layer",)

HEADER = "// Generated from the catalogue by cmake/generate.py; do not edit.\n"


def cpp_type(c_type) -> str:
    """How C++ code names a type: by its typedef where one names it."""
    return c_type.declare()


def runtime_records() -> str:
    lines = [HEADER, "#pragma once\n", "namespace tessivec::runtime {\n"]
    for record in RECORDS:
        lines.append(f"struct {record.type_name} {{")
        lines += [f"    {c_type.declare(name)};" for name, c_type in record.fields]
        lines.append("};\n")
    lines.append(f"using {VML_ERROR_CALLBACK.name} = {VML_ERROR_CALLBACK.declare_unnamed()};\n")
    lines.append("}  // namespace tessivec::runtime")
    return "\n".join(lines) + "\n"


def declarations_of(functions) -> list[str]:
    return [function_declaration(f.result, f.runtime_symbol,
                                 [(p.c_type, p.name) for p in f.params]) + ";"
            for f in functions]


def _declarations_header(functions, includes=()) -> str:
    lines = [HEADER, "#pragma once\n", '#include "runtime/runtime_records.hpp"']
    lines += [f'#include "{name}"' for name in includes]
    if functions:
        lines += ["", "namespace tessivec::runtime {", 'extern "C" {\n']
        lines += declarations_of(functions)
        lines += ["\n}  // extern \"C\"", "}  // namespace tessivec::runtime"]
    return "\n".join(lines) + "\n"


# The runtime's functions in three headers, so that a new math function rebuilds only
# what calls math functions: the services (mode, status, callback), gather and scatter,
# and the math functions; runtime_functions.hpp declares them all.
SERVICES_HEADER = "runtime/runtime_services.hpp"
GATHER_SCATTER_HEADER = "runtime/runtime_gather_scatter.hpp"
MATH_HEADER = "runtime/runtime_math.hpp"
# The math functions only vm calls, outside lib's tables: vm's loops include them beside
# the math header; lib's sources never do, so that they stay as they are.
VM_ONLY_MATH_HEADER = "runtime/runtime_vm_only_math.hpp"


def _group(function) -> str:
    if function.family is SERVICE:
        return SERVICES_HEADER
    return MATH_HEADER if function.family.is_elementwise else GATHER_SCATTER_HEADER


def runtime_headers(table: TypeTable) -> dict[str, str]:
    groups = {SERVICES_HEADER: [], GATHER_SCATTER_HEADER: [], MATH_HEADER: []}
    for function in table.functions:
        groups[_group(function)].append(function)
    headers = {name: _declarations_header(functions) for name, functions in groups.items()}
    headers["runtime/runtime_functions.hpp"] = _declarations_header((), tuple(groups))
    headers[VM_ONLY_MATH_HEADER] = _declarations_header(vm_only_functions())
    return headers


def link_stub(table: TypeTable) -> str:
    lines = [HEADER.replace("//", "/*", 1).rstrip() + " */",
             "/* Stands in for the runtime library at link time only; never installed. */\n"]
    symbols = [f.runtime_symbol for f in [*table.functions, *vm_only_functions()]]
    symbols += list(SUPPORT_SYMBOLS)
    lines += [f"void {symbol}(void) {{}}" for symbol in symbols]
    return "\n".join(lines) + "\n"


def mode_values() -> str:
    """The runtime's named mode values and status codes, for both extensions."""
    lines = [HEADER, "#pragma once\n", "namespace tessivec::runtime::mode_values {\n"]
    lines += [f"inline constexpr unsigned {name} = {value:#x};"
              for name, value in MODE_VALUES.items()]
    lines += [f"inline constexpr int {name} = {value};" for name, value in STATUS_CODES.items()]
    lines += ["\nstruct Accuracy {", "    const char* name;  // as vm.la, vm.ha, vm.ep name it",
              "    unsigned value;", "};\n", "inline constexpr Accuracy accuracies[] = {"]
    lines += [f'    {{"{name.lower()}", {name}}},' for name in ACCURACIES]
    lines.append("};")
    lines.append("\n}  // namespace tessivec::runtime::mode_values")
    return "\n".join(lines) + "\n"


def outputs(table: TypeTable) -> dict[str, str]:
    return {
        "runtime/mode_values.hpp": mode_values(),
        "runtime/runtime_records.hpp": runtime_records(),
        **runtime_headers(table),
        "runtime/link_stub.c": link_stub(table),
    }
