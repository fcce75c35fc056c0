"""Emits the declarations of the runtime functions and records the module calls and
shares, and the link stub that stands in for the runtime library at build time."""

from __future__ import annotations

from catalogue.c_types import Array, Pointer, Primitive, Record
from catalogue.functions import RECORDS, VML_ERROR_CALLBACK
from catalogue.mode_values import MODE_VALUES, STATUS_CODES
from catalogue.type_table import TypeTable

# Runtime functions the module calls besides the offered ones.
SUPPORT_SYMBOLS = ("MKL_Set_Interface_Layer",)

HEADER = "// Generated from the catalogue by catalogue/generate.py; do not edit.\n"


def cpp_type(c_type) -> str:
    """The C++ spelling of a type, naming the callback type by its type name."""
    if c_type == VML_ERROR_CALLBACK:
        return "VMLErrorCallBack"
    if isinstance(c_type, Pointer):
        return c_type.spelling
    if isinstance(c_type, (Primitive, Record)):
        return c_type.spelling
    raise TypeError(c_type)


def declaration(c_type, name: str) -> str:
    if isinstance(c_type, Array):
        return f"{cpp_type(c_type.item)} {name}[{c_type.length}]"
    return f"{cpp_type(c_type)} {name}"


def runtime_records() -> str:
    lines = [HEADER, "#pragma once\n", "namespace tessivec::runtime {\n"]
    for record in RECORDS:
        lines.append(f"struct {record.type_name} {{")
        lines += [f"    {declaration(t, name)};" for name, t in record.fields]
        lines.append("};\n")
    lines.append("using VMLErrorCallBack = int (*)(DefVmlErrorContext*);\n")
    lines.append("}  // namespace tessivec::runtime")
    return "\n".join(lines) + "\n"


def runtime_functions(table: TypeTable) -> str:
    lines = [HEADER, "#pragma once\n", '#include "runtime/runtime_records.hpp"\n',
             "namespace tessivec::runtime {", 'extern "C" {\n']
    for f in table.functions:
        params = ", ".join(declaration(p.c_type, p.name) for p in f.params) or "void"
        lines.append(f"{cpp_type(f.result)} {f.runtime_symbol}({params});")
    lines += ["\n}  // extern \"C\"", "}  // namespace tessivec::runtime"]
    return "\n".join(lines) + "\n"


def link_stub(table: TypeTable) -> str:
    lines = [HEADER.replace("//", "/*", 1).rstrip() + " */",
             "/* Stands in for the runtime library at link time only; never installed. */\n"]
    symbols = [f.runtime_symbol for f in table.functions] + list(SUPPORT_SYMBOLS)
    lines += [f"void {symbol}(void) {{}}" for symbol in symbols]
    return "\n".join(lines) + "\n"


def mode_values() -> str:
    """The runtime's named mode values and status codes, for both extensions."""
    lines = [HEADER, "#pragma once\n", "namespace tessivec::runtime::mode_values {\n"]
    lines += [f"inline constexpr unsigned {name} = {value:#x};"
              for name, value in MODE_VALUES.items()]
    lines += [f"inline constexpr int {name} = {value};" for name, value in STATUS_CODES.items()]
    lines.append("\n}  // namespace tessivec::runtime::mode_values")
    return "\n".join(lines) + "\n"


def outputs(table: TypeTable) -> dict[str, str]:
    return {
        "runtime/mode_values.hpp": mode_values(),
        "runtime/runtime_records.hpp": runtime_records(),
        "runtime/runtime_functions.hpp": runtime_functions(table),
        "runtime/link_stub.c": link_stub(table),
    }
