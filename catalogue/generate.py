"""Writes the C++ sources the build derives from the catalogue.

    python catalogue/generate.py OUTPUT_DIR

It first checks the catalogue (catalogue/validation.py) and stops, saying what to add
where, if the records do not fit together.

runtime/declarations.py emits the runtime's declarations and the link stub;
module/tables.py the type context's tables and the type indexes; bridge/wrapper_table.py
the globals table's entries, one wrapper each; module/lib_stub.py
the type stub of lib; dispatch/loop_table.py the loops of the vm operations and
dispatch/vm_stub.py the type stub of vm. Only files whose text changed are rewritten,
so an unchanged catalogue rebuilds nothing.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from bridge import wrapper_table  # noqa: E402
from catalogue.type_table import TypeTable  # noqa: E402
from catalogue.validation import CatalogueError, validate  # noqa: E402
from dispatch import loop_table, vm_stub  # noqa: E402
from module import lib_stub, tables  # noqa: E402
from runtime import declarations  # noqa: E402


def write_if_changed(path: Path, text: str) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def main(output_dir: str) -> None:
    try:
        validate()
    except CatalogueError as error:
        sys.exit(f"catalogue/generate.py: {error}")
    table = TypeTable()
    outputs = {**declarations.outputs(table), **tables.outputs(table),
               **wrapper_table.outputs(table), **lib_stub.outputs(),
               **loop_table.outputs(), **vm_stub.outputs()}
    for name, text in outputs.items():
        write_if_changed(Path(output_dir) / name, text)


if __name__ == "__main__":
    main(sys.argv[1])
