"""The NumPy-level interface: one ``vm`` function per base name, derived from the catalogue.

A vm function takes the arrays and scalars of its family's runtime functions as
positional arguments and picks, by the inputs' dtype, one of its loops: the by-value
runtime function of one precision letter, plain or in its ``m`` form.
"""

from __future__ import annotations

from dataclasses import dataclass
from functools import lru_cache

from .descriptions import DESCRIPTIONS
from .functions import FAMILIES, PACK_UNPACK_BASES, PRECISIONS, offered_functions


@dataclass(frozen=True)
class VmParameter:
    name: str
    # "array", "scalar" (real or complex), "real_scalar", "increment", "count",
    # "indexes", "mask" or "out"
    kind: str


@dataclass(frozen=True)
class Loop:
    letter: str
    input_dtype: str  # NumPy dtype of the array inputs
    output_dtype: str  # NumPy dtype of the results
    runtime_name: str  # the by-value runtime function: vdExp
    mode_runtime_name: str | None  # its m form, vmdExp, which the ufunc calls; None for pack


@dataclass(frozen=True)
class VmFunction:
    name: str  # vm.<name>: the base name in lower case
    base: str
    positional: tuple[VmParameter, ...]  # positional-only
    keywords: tuple[VmParameter, ...]  # keyword-only, default None (pack and unpack only)
    outputs: int  # results of one call: 1, or 2 for sincos and modf
    loops: tuple[Loop, ...]  # in the order s, d, c, z: the first the inputs cast to wins

    @property
    def description(self) -> str:
        return DESCRIPTIONS[self.base]

    @property
    def is_pack(self) -> bool:
        return self.base in PACK_UNPACK_BASES

    @property
    def text_signature(self) -> str:
        parts = [p.name for p in self.positional] + ["/"]
        if self.keywords:
            parts += ["*"] + [f"{p.name}=None" for p in self.keywords]
        return f"{self.name}({', '.join(parts)})"


# Pack and unpack take an index or mask array where the runtime takes a count and the
# output's length follows from it; unpack writes into an array the caller gives.
PACK_PARAMETERS = {
    "PackI": ((("a", "array"), ("incr", "increment"), ("n", "count")), (("out", "out"),)),
    "PackV": ((("a", "array"), ("index", "indexes")), (("out", "out"),)),
    "PackM": ((("a", "array"), ("mask", "mask")), (("out", "out"),)),
    "UnpackI": ((("a", "array"), ("incr", "increment"), ("out", "out")), ()),
    "UnpackV": ((("a", "array"), ("index", "indexes"), ("out", "out")), ()),
    "UnpackM": ((("a", "array"), ("mask", "mask"), ("out", "out")), ()),
}

_INPUT_ROLES = {"input": "array", "real_input": "array", "scalar": "scalar"}
_OUTPUT_ROLES = ("output", "real_output")
_REAL_DTYPES = {p.element: p.numpy_dtype for p in PRECISIONS.values() if not p.is_complex}


def _loop(function, mode_name: str | None) -> Loop:
    precision = PRECISIONS[function.letter]
    element, real = precision.numpy_dtype, _REAL_DTYPES[precision.real]
    input_dtype = real if function.family == "real_to_complex" else element
    output_dtype = real if function.family == "complex_to_real" else element
    return Loop(function.letter, input_dtype, output_dtype, function.name, mode_name)


def _math_parameters(base: str, families: set[str], loops: list[Loop]):
    shapes = {tuple((name, _INPUT_ROLES[role]) for name, role in FAMILIES[f]
                    if role in _INPUT_ROLES) for f in families}
    outputs = {sum(role in _OUTPUT_ROLES for _, role in FAMILIES[f]) for f in families}
    assert len(shapes) == 1 and len(outputs) == 1, f"{base}: its families disagree"
    real_only = all(loop.letter in "sd" for loop in loops)
    positional = tuple(VmParameter(name, "real_scalar" if kind == "scalar" and real_only else kind)
                       for name, kind in shapes.pop())
    # A ufunc: its keywords are NumPy's.
    return positional, (), outputs.pop()


@lru_cache(maxsize=None)
def vm_functions() -> tuple[VmFunction, ...]:
    """Every vm function, in the order of their names."""
    by_base: dict[str, dict] = {}
    offered = offered_functions()
    mode_forms = {f.mixed_name for f in offered if f.with_mode}
    for function in offered:
        if function.base is None or function.spelling != "value" or function.with_mode:
            continue
        mode_name = "vm" + function.name[1:]
        entry = by_base.setdefault(function.base, {"families": set(), "loops": []})
        entry["families"].add(function.family)
        entry["loops"].append(_loop(function, mode_name if mode_name in mode_forms else None))
    result = []
    for base, entry in by_base.items():
        loops = sorted(entry["loops"], key=lambda loop: "sdcz".index(loop.letter))
        if base in PACK_PARAMETERS:
            positional, keywords = (tuple(VmParameter(*p) for p in group)
                                    for group in PACK_PARAMETERS[base])
            outputs = 1
        else:
            positional, keywords, outputs = _math_parameters(base, entry["families"], loops)
        result.append(VmFunction(base.lower(), base, positional, keywords, outputs, tuple(loops)))
    return tuple(sorted(result, key=lambda f: f.name))
