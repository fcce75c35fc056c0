"""Every include and import of the product points down its rooms, in the order
CONTRIBUTING names them: a room uses only itself and the rooms before it there."""

import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
# Each room and the rooms it may use (generated files count as their room's own);
# dispatch/ stands beside bridge/ and module/, and uses neither.
BELOW = {
    "catalogue": set(),
    "runtime": {"catalogue"},
    "common": {"catalogue", "runtime"},
    "protocol": {"catalogue", "runtime", "common"},
    "bridge": {"catalogue", "runtime", "common", "protocol"},
    "module": {"catalogue", "runtime", "common", "protocol", "bridge"},
    "dispatch": {"catalogue", "runtime", "common"},
    "cmake": {"catalogue", "runtime", "common", "protocol", "bridge", "module", "dispatch"},
}
INCLUDE = re.compile(r'^#include "(\w+)/', re.MULTILINE)
IMPORT = re.compile(r"^(?:from|import) (\w+)[ .]", re.MULTILINE)


def uses(path: Path) -> set[str]:
    text = path.read_text()
    pattern = IMPORT if path.suffix == ".py" else INCLUDE
    return {room for room in pattern.findall(text) if room in BELOW}


SOURCES = [path for room in BELOW for path in sorted((ROOT / room).glob("*"))
           if path.suffix in (".py", ".hpp", ".cpp", ".h", ".c")]


def test_the_rooms_are_there():
    assert all((ROOT / room).is_dir() for room in BELOW)
    assert len(SOURCES) > 60


@pytest.mark.parametrize("path", SOURCES, ids=lambda p: str(p.relative_to(ROOT)))
def test_each_source_uses_its_room_and_the_rooms_below(path):
    room = path.parent.name
    assert uses(path) <= BELOW[room] | {room}, f"{path.relative_to(ROOT)} reaches up"


def test_contributing_names_the_rooms_in_this_order():
    text = (ROOT / "CONTRIBUTING.md").read_text()
    rooms = text[text.index("## Rooms"):]
    positions = [rooms.find(f"- `{room}/`") for room in BELOW]
    assert -1 not in positions and positions == sorted(positions)
