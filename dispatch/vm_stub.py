"""Emits the type stub of vantrel.mkl.vm: the named mode values, the mode services, one
ufunc per elementwise operation (also in each accuracy namespace) and the gather and
scatter functions with the parameters the vm interface derives for them."""

from __future__ import annotations

from catalogue.mode_values import MODE_VALUES, STATUS_CODES
from catalogue.vm_interface import vm_functions

STUB_HEADER = '''\
# Generated from the catalogue by cmake/generate.py; do not edit.
"""Types of vantrel.mkl.vm."""

from contextlib import AbstractContextManager
from typing import Any, Optional

from numpy import ufunc
from numpy.typing import ArrayLike, NDArray

def get_mode() -> int: ...
def set_mode(value: int, /) -> int: ...
def mode(value: int, /) -> AbstractContextManager[int]: ...
'''

def _annotation(parameter, keyword: bool) -> str:
    role = parameter.role
    if role.written:  # the result array: given by the caller, or made unless given
        return "Optional[NDArray[Any]]" if keyword else "NDArray[Any]"
    return "ArrayLike" if role.array else "int"


def vm_stub() -> str:
    lines = [STUB_HEADER]
    lines += [f"{name}: int" for name in [*MODE_VALUES, *STATUS_CODES]]
    lines.append("")
    operations = [f for f in vm_functions() if not f.is_pack]
    lines.append("class _Accuracy:")
    lines += [f"    {f.name}: ufunc" for f in operations]
    lines.append("")
    lines += [f"{name}: _Accuracy" for name in ("la", "ha", "ep")]
    lines += [f"{f.name}: ufunc" for f in operations]
    lines.append("")
    for function in vm_functions():
        if not function.is_pack:
            continue
        params = [f"{p.name}: {_annotation(p, False)}" for p in function.positional] + ["/"]
        if function.keywords:
            params += ["*"] + [f"{p.name}: {_annotation(p, True)} = None"
                               for p in function.keywords]
        lines.append(f"def {function.name}({', '.join(params)}) -> NDArray[Any]: ...")
    return "\n".join(lines) + "\n"


def outputs() -> dict[str, str]:
    return {"python/vm.pyi": vm_stub()}
