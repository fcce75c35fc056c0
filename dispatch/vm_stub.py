"""Emits the type stub of vantrel.mkl.vm: the named mode values, the services, and one
function per base name with the parameters the vm interface derives for it."""

from __future__ import annotations

from catalogue.mode_values import MODE_VALUES, STATUS_CODES
from catalogue.vm_interface import vm_functions

STUB_HEADER = '''\
# Generated from the catalogue by catalogue/generate.py; do not edit.
"""Types of vantrel.mkl.vm."""

from contextlib import AbstractContextManager, ContextDecorator
from typing import Any, Literal, Optional, Tuple

from numpy.typing import ArrayLike, NDArray

_Action = Literal["ignore", "warn", "raise"]

def get_mode() -> int: ...
def set_mode(value: int, /) -> int: ...
def mode(value: int, /) -> AbstractContextManager[int]: ...
def geterr() -> dict[str, str]: ...

class errstate(ContextDecorator):
    def __init__(self, *, all: Optional[_Action] = None, domain: Optional[_Action] = None,
                 singularity: Optional[_Action] = None, overflow: Optional[_Action] = None,
                 underflow: Optional[_Action] = None) -> None: ...
    def __enter__(self) -> errstate: ...
    def __exit__(self, *exception: object) -> None: ...
'''

# The annotation of each kind of vm parameter; `out` depends on the function.
PARAMETER_TYPES = {
    "array": "ArrayLike",
    "scalar": "complex",
    "real_scalar": "float",
    "increment": "int",
    "count": "int",
    "indexes": "ArrayLike",
    "mask": "ArrayLike",
    "mode": "Optional[int]",
}


def _out_type(function) -> str:
    if not function.is_pack:
        return {1: "Optional[NDArray[Any]]",
                2: "Optional[Tuple[Optional[NDArray[Any]], Optional[NDArray[Any]]]]"}[
                    function.outputs]
    return "Optional[NDArray[Any]]" if function.base.startswith("Pack") else "NDArray[Any]"


def _annotation(function, parameter) -> str:
    return _out_type(function) if parameter.kind == "out" else PARAMETER_TYPES[parameter.kind]


def _result_type(function) -> str:
    if function.is_pack:
        return "NDArray[Any]"
    # Like NumPy's functions, a 0-d result comes back as a NumPy scalar.
    return "Tuple[Any, Any]" if function.outputs == 2 else "Any"


def vm_stub() -> str:
    lines = [STUB_HEADER]
    lines += [f"{name}: int" for name in [*MODE_VALUES, *STATUS_CODES]]
    lines.append("")
    for function in vm_functions():
        params = [f"{p.name}: {_annotation(function, p)}" for p in function.positional] + ["/"]
        if function.keywords:
            params += ["*"] + [f"{p.name}: {_annotation(function, p)} = None"
                               for p in function.keywords]
        lines.append(f"def {function.name}({', '.join(params)}) -> {_result_type(function)}: ...")
    return "\n".join(lines) + "\n"


def outputs() -> dict[str, str]:
    return {"python/vm.pyi": vm_stub()}
