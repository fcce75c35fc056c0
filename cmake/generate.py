"""Writes the sources the build derives from the catalogue, by the emitters of each room.

    python cmake/generate.py OUTPUT_DIR     writes them (only those whose text changed)
    python cmake/generate.py --list         names them, one a line, for CMake

It first checks the catalogue (catalogue/validation.py) and stops, saying what to add
where, if the records do not fit together. Each emitter lives beside the code that
includes what it writes:

- runtime/declarations.py: the runtime's records, functions, service functions, mode
  values and the link stub;
- protocol/type_indexes.py: where each type stands in the type table;
- common/role_traits.py: the roles, families and reach rules the wrappers and vm know;
- module/tables.py: the type context's tables; module/globals_entries.py: the globals
  table's entries, one wrapper each; module/lib_stub.py: the type stub of lib;
- dispatch/tables.py: the loops of the vm operations, the gather and scatter
  signatures and the element types; dispatch/vm_stub.py: the type stub of vm.

Only files whose text changed are rewritten, so an unchanged catalogue rebuilds nothing.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from catalogue.type_table import TypeTable  # noqa: E402
from catalogue.validation import CatalogueError, validate  # noqa: E402
from common import role_traits  # noqa: E402
from dispatch import tables as dispatch_tables  # noqa: E402
from dispatch import vm_stub  # noqa: E402
from module import globals_entries, lib_stub, tables  # noqa: E402
from protocol import type_indexes  # noqa: E402
from runtime import declarations  # noqa: E402


def generated() -> dict[str, str]:
    """Every generated file, by its path below the output directory, with its text."""
    table = TypeTable()
    return {**declarations.outputs(table), **type_indexes.outputs(table),
            **role_traits.outputs(table), **tables.outputs(table),
            **globals_entries.outputs(table), **lib_stub.outputs(),
            **dispatch_tables.outputs(), **vm_stub.outputs()}


def write_if_changed(path: Path, text: str) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def main(argument: str) -> None:
    try:
        validate()
    except CatalogueError as error:
        sys.exit(f"cmake/generate.py: {error}")
    outputs = generated()
    if argument == "--list":
        print("\n".join(sorted(outputs)))
        return
    for name, text in outputs.items():
        write_if_changed(Path(argument) / name, text)


if __name__ == "__main__":
    main(sys.argv[1])
