"""Emits the type stub of vantrel.mkl.vm: the named mode values, the mode services, one
ufunc per elementwise operation and alias (also in each accuracy namespace) and the
gather and scatter functions with the parameters the vm interface derives for them,
which return the result array they are given as its own type.

Each ufunc is typed as NumPy types its own (numpy/__init__.pyi), by its numbers of
inputs and outputs, with the ufunc's name, its number of loops and its identity as
literal types: ``exp: _UFunc_Nin1_Nout1[L["exp"], L[4], None]``, so that a call on
arrays is an ``NDArray``. NumPy has no such type for six inputs (linearfrac): the stub
declares one of its own, in NumPy's manner.
"""

from __future__ import annotations

from catalogue.mode_values import ACCURACIES, MODE_VALUES, STATUS_CODES
from catalogue.vm_interface import vm_functions

STUB_HEADER = '''\
# Generated from the catalogue by cmake/generate.py; do not edit.
"""Types of vantrel.mkl.vm."""

from contextlib import AbstractContextManager
from typing import Any, Generic, Literal as L, TypeVar, overload, type_check_only

from numpy import ufunc
from numpy._typing import _ArrayLikeBool_co, _ScalarLike_co
from numpy._typing._ufunc import _UFunc_Nin1_Nout1, _UFunc_Nin1_Nout2, _UFunc_Nin2_Nout1
from numpy.typing import ArrayLike, DTypeLike, NDArray

_NameType = TypeVar("_NameType", bound=str, covariant=True)
_NTypes = TypeVar("_NTypes", bound=int, covariant=True)
_IDType = TypeVar("_IDType", covariant=True)
_ArrayT = TypeVar("_ArrayT", bound=NDArray[Any])

def get_mode() -> int: ...
def set_mode(value: int, /) -> int: ...
def mode(value: int, /) -> AbstractContextManager[int]: ...
'''

# NumPy's keywords of a ufunc call, as numpy/_typing/_ufunc.pyi declares them.
_KEYWORDS = ("*, dtype: DTypeLike | None = None, where: _ArrayLikeBool_co | None = True, "
             "casting: L['no', 'equiv', 'safe', 'same_kind', 'unsafe'] = ..., "
             "order: L['K', 'A', 'C', 'F'] | None = ..., subok: bool = ..., "
             "signature: str | tuple[str | None, ...] = ...")


def _many_inputs_class(inputs: int, names: list[str]) -> list[str]:
    """A ufunc type of `inputs` inputs and one output, in the manner of NumPy's
    _UFunc_Nin2_Nout1: scalars give a scalar, anything else an array."""
    scalars = ", ".join(f"{name}: _ScalarLike_co" for name in names)
    arrays = ", ".join(f"{name}: ArrayLike" for name in names)
    return [
        "@type_check_only",
        f"class _UFunc_Nin{inputs}_Nout1(ufunc, Generic[_NameType, _NTypes, _IDType]):  "
        "# type: ignore[misc]",
        "    @property",
        "    def __name__(self) -> _NameType: ...",
        "    @property",
        "    def ntypes(self) -> _NTypes: ...",
        "    @property",
        "    def identity(self) -> _IDType: ...",
        "    @property",
        f"    def nin(self) -> L[{inputs}]: ...",
        "    @property",
        "    def nout(self) -> L[1]: ...",
        "    @property",
        f"    def nargs(self) -> L[{inputs + 1}]: ...",
        "    @property",
        "    def signature(self) -> None: ...",
        "    @overload",
        f"    def __call__(self, {scalars}, /, out: None = None, {_KEYWORDS}) -> Any: ...",
        "    @overload",
        f"    def __call__(self, {arrays}, /, out: NDArray[Any] | tuple[NDArray[Any]] | None "
        f"= None, {_KEYWORDS}) -> NDArray[Any]: ...",
        "",
    ]


# The ufunc types numpy._typing._ufunc has, by (inputs, outputs).
NUMPY_TYPES = {(1, 1): "_UFunc_Nin1_Nout1", (2, 1): "_UFunc_Nin2_Nout1",
               (1, 2): "_UFunc_Nin1_Nout2"}


def _ufunc_name(function, accuracy: str | None) -> str:
    """The ufunc's __name__ (dispatch/ufuncs.cpp): ``la.exp`` in an accuracy namespace;
    a two-output ufunc of the thread's accuracy is named as its package reaches it."""
    if accuracy is not None:
        return f"{accuracy}.{function.name}"
    return f"vm.{function.name}" if function.outputs > 1 else function.name


def _ufunc_type(function, accuracy: str | None) -> str:
    kind = NUMPY_TYPES.get((len(function.positional), function.outputs),
                           f"_UFunc_Nin{len(function.positional)}_Nout{function.outputs}")
    identity = "None" if function.identity is None else f"L[{function.identity}]"
    return f'{kind}[L["{_ufunc_name(function, accuracy)}"], L[{len(function.loops)}], {identity}]'


def _ufunc_lines(operations, accuracy: str | None, indent: str = "") -> list[str]:
    return [f"{indent}{name}: {_ufunc_type(function, accuracy)}"
            for function in operations for name in (function.name, *function.aliases)]


def _annotation(parameter, keyword: bool, given: bool = False) -> str:
    role = parameter.role
    if role.written:  # the result array: given by the caller, or made unless given
        return "_ArrayT" if given or not keyword else "None"
    return "ArrayLike" if role.array else "int"


def _pack_lines(function) -> list[str]:
    """A gather or scatter function returns the result array it is given (scatter's
    out, gather's out=), as its type, or else the array it makes."""
    def declaration(given: bool) -> str:
        params = [f"{p.name}: {_annotation(p, False)}" for p in function.positional] + ["/"]
        if function.keywords:
            params += ["*"] + [f"{p.name}: {_annotation(p, True, given)}"
                               + ("" if given and p.role.written else " = None")
                               for p in function.keywords]
        returned = "_ArrayT" if given or any(p.role.written for p in function.positional) \
            else "NDArray[Any]"
        return f"def {function.name}({', '.join(params)}) -> {returned}: ..."

    if not any(p.role.written for p in function.keywords):
        return [declaration(False)]
    return ["@overload", declaration(False), "@overload", declaration(True)]


def vm_stub() -> str:
    lines = [STUB_HEADER]
    lines += [f"{name}: int" for name in [*MODE_VALUES, *STATUS_CODES]]
    lines.append("")
    operations = [f for f in vm_functions() if not f.is_pack]
    for inputs, outputs in sorted({(len(f.positional), f.outputs) for f in operations}):
        if (inputs, outputs) not in NUMPY_TYPES:
            assert outputs == 1, "only one-output ufuncs of more inputs have a type here"
            names = [p.name for f in operations if len(f.positional) == inputs
                     for p in f.positional][:inputs]
            lines += _many_inputs_class(inputs, names)
    for accuracy in ACCURACIES:
        name = accuracy.lower()
        lines.append(f"class _{accuracy}:")
        lines.append(f'    """vm\'s ufuncs in {accuracy}."""')
        lines += _ufunc_lines(operations, name, "    ")
        lines.append("")
    lines += [f"{name.lower()}: _{name}" for name in ACCURACIES]
    lines += _ufunc_lines(operations, None)
    lines.append("")
    for function in vm_functions():
        if function.is_pack:
            lines += _pack_lines(function)
    return "\n".join(lines) + "\n"


def outputs() -> dict[str, str]:
    return {"python/vm.pyi": vm_stub()}
