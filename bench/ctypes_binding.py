"""The runtime functions the benchmark compares, declared through ctypes."""

from __future__ import annotations

import ctypes

from runtime_library import runtime_handle

_DOUBLES = ctypes.POINTER(ctypes.c_double)
_INT = ctypes.POINTER(ctypes.c_int)

_SIGNATURES = {
    "vdExp": (None, [ctypes.c_int, _DOUBLES, _DOUBLES]),
    "vdAdd": (None, [ctypes.c_int, _DOUBLES, _DOUBLES, _DOUBLES]),
    "vmdLinearFrac": (None, [ctypes.c_int, _DOUBLES, _DOUBLES, ctypes.c_double,
                             ctypes.c_double, ctypes.c_double, ctypes.c_double, _DOUBLES,
                             ctypes.c_longlong]),
    "vdadd_": (None, [_INT, _DOUBLES, _DOUBLES, _DOUBLES]),
    "vmlSetErrStatus": (ctypes.c_int, [ctypes.c_int]),
    "vmlGetMode": (ctypes.c_uint, []),
}


def ctypes_function(symbol: str):
    """A fresh function object for `symbol`, with its argument and result types set."""
    restype, argtypes = _SIGNATURES[symbol]
    function = getattr(runtime_handle(), symbol)
    function.restype, function.argtypes = restype, argtypes
    return function


def ctypes_doubles(values):
    return (ctypes.c_double * len(values))(*values)
