"""Writes the C++ sources the build derives from the catalogue.

    python catalogue/generate.py OUTPUT_DIR

runtime/declarations.py emits the runtime's declarations and the link stub;
module/tables.py the type context's tables and the type indexes. Only files whose
text changed are rewritten, so an unchanged catalogue rebuilds nothing.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from catalogue.type_table import TypeTable  # noqa: E402
from module import tables  # noqa: E402
from runtime import declarations  # noqa: E402


def write_if_changed(path: Path, text: str) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def main(output_dir: str) -> None:
    table = TypeTable()
    for name, text in {**declarations.outputs(table), **tables.outputs(table)}.items():
        write_if_changed(Path(output_dir) / name, text)


if __name__ == "__main__":
    main(sys.argv[1])
