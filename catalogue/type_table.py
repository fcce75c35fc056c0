"""The type table the backend builds every type from, derived from the catalogue.

Types are sorted by spelling. Function types come first, each as its function word, one
word per parameter and an end word; a parameter's type takes the position of its first
use as its type index. The types no function type holds as a parameter follow.
"""

from __future__ import annotations

from dataclasses import dataclass

from cffi import cffi_opcode

from .c_types import Array, Function, Pointer, Primitive, Record, sort_key
from .functions import RECORDS, TYPE_NAMES, offered_functions

# Operation codes of the type table's words, as the backend numbers them.
OP_PRIMITIVE = cffi_opcode.OP_PRIMITIVE
OP_POINTER = cffi_opcode.OP_POINTER
OP_ARRAY = cffi_opcode.OP_ARRAY
OP_STRUCT_UNION = cffi_opcode.OP_STRUCT_UNION
OP_FUNCTION = cffi_opcode.OP_FUNCTION
OP_FUNCTION_END = cffi_opcode.OP_FUNCTION_END
OP_NOOP = cffi_opcode.OP_NOOP


def op_name(op: int) -> str:
    """The name parse_c_type.h gives an operation code: _CFFI_OP_FUNCTION."""
    return "_CFFI_OP_" + cffi_opcode.CLASS_NAME[op]


@dataclass(frozen=True)
class Word:
    op: int | None  # None for an array's length word
    arg: int
    comment: str = ""
    arg_name: str | None = None  # the argument by its name in parse_c_type.h, where it has one

    @property
    def arg_text(self) -> str:
        return self.arg_name if self.arg_name is not None else str(self.arg)


def _reachable(c_type, found: set):
    if c_type in found:
        return
    found.add(c_type)
    if isinstance(c_type, Pointer):
        _reachable(c_type.target, found)
    elif isinstance(c_type, Array):
        _reachable(c_type.item, found)
    elif isinstance(c_type, Function):
        _reachable(c_type.result, found)
        for p in c_type.params:
            _reachable(p, found)
    elif isinstance(c_type, Record):
        for _, field_type in c_type.fields:
            _reachable(field_type, found)


class TypeTable:
    def __init__(self):
        self.functions = offered_functions()
        self.records = sorted(RECORDS, key=lambda r: r.table_name.encode("ascii"))
        found: set = set()
        for f in self.functions:
            _reachable(f.function_type, found)
        for c_type in list(TYPE_NAMES.values()) + list(RECORDS):
            _reachable(c_type, found)
        ordered = sorted(found, key=sort_key)
        self.index: dict[object, int] = {}
        slots: list = []  # per word: (kind, type); kind "own", "param", "end", "length"
        for t in ordered:
            if not isinstance(t, Function):
                continue
            self.index[t] = len(slots)
            slots.append(("own", t))
            for p in t.params:
                if p not in self.index:
                    self.index[p] = len(slots)
                    slots.append(("own", p))
                else:
                    slots.append(("param", p))
            slots.append(("end", t))
        for t in ordered:
            if t in self.index:
                continue
            self.index[t] = len(slots)
            slots.append(("own", t))
            if isinstance(t, Array):
                slots.append(("length", t))
        self.words = [self._word(kind, t) for kind, t in slots]

    def _own_word(self, t) -> Word:
        if isinstance(t, Primitive):
            return Word(OP_PRIMITIVE, t.code, t.spelling, t.macro)
        if isinstance(t, Pointer):
            return Word(OP_POINTER, self.index[t.target], t.spelling)
        if isinstance(t, Array):
            return Word(OP_ARRAY, self.index[t.item], t.spelling)
        if isinstance(t, Record):
            return Word(OP_STRUCT_UNION, self.records.index(t), t.spelling)
        if isinstance(t, Function):
            return Word(OP_FUNCTION, self.index[t.result], t.spelling)
        raise TypeError(t)

    def _word(self, kind: str, t) -> Word:
        if kind == "own":
            return self._own_word(t)
        if kind == "end":
            return Word(OP_FUNCTION_END, 0)
        if kind == "length":
            return Word(None, t.length, "length of " + t.spelling)
        if isinstance(t, Primitive):  # a later use of a primitive repeats its word
            return self._own_word(t)
        return Word(OP_NOOP, self.index[t], t.spelling)

    def function_types(self) -> list[Function]:
        return sorted((t for t in self.index if isinstance(t, Function)), key=self.index.get)
