"""An ABI-mode CFFI binding (cdef and dlopen) of the runtime the package loaded: lib's
declarations and those of the math functions only vm calls, which lib does not offer.
The tests call through it what vm calls outside lib, to hold vm's loops to the runtime."""

from __future__ import annotations

import functools

import cffi
from vantrel.mkl._catalogue.functions import vm_only_functions

from cffi_oracle import catalogue_cdef, declaration


@functools.lru_cache(maxsize=None)
def binding():
    """(ffi, lib) for the runtime's functions, lib's and vm's alone."""
    import vantrel.mkl.vm  # noqa: F401 (loads the runtime first, from wherever pip put it)
    ffi = cffi.FFI()
    ffi.cdef(catalogue_cdef() + "".join(declaration(f.function_type, f.name) + ";\n"
                                        for f in vm_only_functions()))
    return ffi, ffi.dlopen("libmkl_rt.so.3")  # the library already loaded, by its soname


def for_operation(operation, ffi, lib):
    """lib's (ffi, lib) where lib offers the operation, the ABI binding elsewhere."""
    return (ffi, lib) if operation.in_lib else binding()
