"""Writes the C++ sources the build derives from the catalogue.

    python generate.py OUTPUT_DIR

Outputs, under OUTPUT_DIR:
  runtime/runtime_records.hpp     the records and the callback type the runtime shares
  runtime/runtime_functions.hpp   declarations of the runtime functions the module calls
  runtime/link_stub.c             an empty definition of each, to link against at build time
  module/type_indexes.hpp         the type index of every type a wrapper converts
  module/type_table_words.inc     the initialiser of the type table
  module/globals_table_entries.inc  the initialiser of the globals table
  module/record_tables.inc        the records, fields and type-name tables

Only files whose text changed are rewritten, so an unchanged catalogue rebuilds nothing.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from c_types import Array, Function, Pointer, Primitive, Record  # noqa: E402
from catalogue import RECORDS, TYPE_NAMES, VML_ERROR_CALLBACK  # noqa: E402
from type_table import OP_NAMES, TypeTable  # noqa: E402

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
    lines += [f"void {f.runtime_symbol}(void) {{}}" for f in table.functions]
    return "\n".join(lines) + "\n"


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
            text = f"_CFFI_OP({OP_NAMES[word.op]}, {word.arg}),"
        lines.append(f"{text:<45} // {position:3d} {word.comment}".rstrip())
    return "\n".join(lines) + "\n"


def globals_table_entries(table: TypeTable) -> str:
    lines = [HEADER]
    for f in table.functions:
        kind = ("_CFFI_OP_CPYTHON_BLTN_N", "_CFFI_OP_CPYTHON_BLTN_O")[len(f.params)] \
            if len(f.params) < 2 else "_CFFI_OP_CPYTHON_BLTN_V"
        symbol = f"&{f.runtime_symbol}"
        lines.append(
            f'{{"{f.name}", reinterpret_cast<void*>(&python_wrapper<"{f.name}", {symbol}>), '
            f"_CFFI_OP({kind}, {table.index[f.function_type]}), "
            f"reinterpret_cast<void*>(&DirectCall<{symbol}>::call)}},")
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


def write_if_changed(path: Path, text: str) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def main(output_dir: str) -> None:
    table = TypeTable()
    out = Path(output_dir)
    outputs = {
        "runtime/runtime_records.hpp": runtime_records(),
        "runtime/runtime_functions.hpp": runtime_functions(table),
        "runtime/link_stub.c": link_stub(table),
        "module/type_indexes.hpp": type_indexes(table),
        "module/type_table_words.inc": type_table_words(table),
        "module/globals_table_entries.inc": globals_table_entries(table),
        "module/record_tables.inc": record_tables(table),
    }
    for name, text in outputs.items():
        write_if_changed(out / name, text)


if __name__ == "__main__":
    main(sys.argv[1])
