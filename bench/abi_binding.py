"""An ABI-mode CFFI binding of the same runtime functions (ffi.cdef + ffi.dlopen), as a
user without the module would write it, with its declarations derived from the catalogue."""

from __future__ import annotations

from vantrel.mkl._catalogue.c_types import function_declaration
from vantrel.mkl._catalogue.functions import RECORDS, VML_ERROR_CALLBACK, offered_functions

from runtime_library import runtime_path


def declarations() -> str:
    """C declarations of the records and of all offered functions, under the names the
    runtime exports them by."""
    lines = [record.c_definition() for record in RECORDS] + [VML_ERROR_CALLBACK.c_typedef()]
    lines += [function_declaration(f.result, f.runtime_symbol,
                                   [(p.c_type, p.name) for p in f.params]) + ";"
              for f in offered_functions()]
    return "\n".join(lines) + "\n"


def abi_binding(declaration_text: str | None = None):
    """(ffi, lib) of the ABI-mode binding."""
    import cffi

    ffi = cffi.FFI()
    ffi.cdef(declaration_text if declaration_text is not None else declarations())
    return ffi, ffi.dlopen(str(runtime_path()))
