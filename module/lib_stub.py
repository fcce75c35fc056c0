"""Emits the type stub of the module: ``ffi``, and ``lib`` with the signature of every
offered function, its parameters named and typed as the catalogue declares them."""

from __future__ import annotations

from catalogue.functions import VML_ERROR_CALLBACK, offered_functions

STUB_HEADER = '''\
# Generated from the catalogue by cmake/generate.py; do not edit.
"""Types of vantrel.mkl.tessivec: ffi, and lib with every offered function."""

from typing import Any, Mapping, Sequence, Union

# A cdata object of ffi: ffi.new("double[]", n), ffi.from_buffer("double[]", array).
_CData = Any
# What a read-only array parameter takes: a cdata array or pointer, or a sequence that
# the call converts into scratch memory. A written array is a cdata object: results
# written into scratch memory are dropped.
_RealArray = Union[_CData, Sequence[float]]
_ComplexArray = Union[_CData, Sequence[Any]]
_IntPointer = Union[_CData, Sequence[int]]
# A complex value: an MKL_Complex8 or MKL_Complex16 record, or its initializer.
_Complex = Union[_CData, Sequence[float], Mapping[str, float]]

ffi: Any

class _Lib:
'''

# The Python type of each C type the catalogue declares, by its spelling.
PYTHON_TYPES = {
    "void": "None",
    "int": "int",
    "unsigned int": "int",
    "long long": "int",
    "float": "float",
    "double": "float",
    "MKL_Complex8": "_Complex",
    "MKL_Complex16": "_Complex",
    "float const *": "_RealArray",
    "double const *": "_RealArray",
    "MKL_Complex8 const *": "_ComplexArray",
    "MKL_Complex16 const *": "_ComplexArray",
    "float *": "_CData",
    "double *": "_CData",
    "MKL_Complex8 *": "_CData",
    "MKL_Complex16 *": "_CData",
    "int *": "_IntPointer",
    "unsigned int *": "_IntPointer",
    "long long *": "_IntPointer",
    VML_ERROR_CALLBACK.declare(): "_CData",
}


def python_type(c_type) -> str:
    return PYTHON_TYPES[c_type.declare()]


def lib_stub() -> str:
    lines = [STUB_HEADER.rstrip("\n")]
    for f in offered_functions():
        params = [f"{p.name}: {python_type(p.c_type)}" for p in f.params]
        params = ", ".join(["self"] + params + (["/"] if params else []))
        lines.append(f"    def {f.name}({params}) -> {python_type(f.result)}: ...")
    lines.append("\nlib: _Lib")
    return "\n".join(lines) + "\n"


def outputs() -> dict[str, str]:
    return {"python/tessivec.pyi": lib_stub()}
