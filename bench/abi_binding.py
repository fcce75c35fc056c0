"""An ABI-mode CFFI binding of the same runtime functions (ffi.cdef + ffi.dlopen), as a
user without the module would write it, with its declarations derived from the catalogue."""

from __future__ import annotations

from vantrel.mkl._catalogue.c_types import Array
from vantrel.mkl._catalogue.functions import RECORDS, VML_ERROR_CALLBACK, offered_functions

from runtime_library import runtime_path


def _spelled(c_type) -> str:
    return "VMLErrorCallBack" if c_type == VML_ERROR_CALLBACK else c_type.spelling


def _field(name: str, c_type) -> str:
    if isinstance(c_type, Array):
        return f"{_spelled(c_type.item)} {name}[{c_type.length}];"
    return f"{_spelled(c_type)} {name};"


def declarations() -> str:
    """C declarations of the records and of all offered functions, under the names the
    runtime exports them by."""
    lines = []
    for record in RECORDS:
        fields = " ".join(_field(name, c_type) for name, c_type in record.fields)
        lines.append(f"typedef struct {record.tag or ''} {{ {fields} }} {record.type_name};")
    lines.append("typedef int (*VMLErrorCallBack)(DefVmlErrorContext *);")
    for function in offered_functions():
        params = ", ".join(_spelled(p.c_type) for p in function.params) or "void"
        lines.append(f"{_spelled(function.result)} {function.runtime_symbol}({params});")
    return "\n".join(lines) + "\n"


def abi_binding(declaration_text: str | None = None):
    """(ffi, lib) of the ABI-mode binding."""
    import cffi

    ffi = cffi.FFI()
    ffi.cdef(declaration_text if declaration_text is not None else declarations())
    return ffi, ffi.dlopen(str(runtime_path()))
