"""NumPy-first access to every vector math operation of the runtime.

``vm.exp(x)``, ``vm.add(a, b)``, ``vm.powx(x, 2.0)``, ``vm.sincos(x)``: one function per
base name, in lower case, taking array-likes and returning arrays. The inputs' dtype
picks the runtime function: float32 the ``s`` one, float64 ``d``, complex64 ``c``,
complex128 ``z``, other dtypes promoted and cast as NumPy's own functions would. Every
function takes ``out=`` (the array to write) and, except pack and unpack, ``mode=``
(call the ``m`` form with this mode). Inputs broadcast; arrays of any size and layout
are taken. The runtime's mode is read and set with ``get_mode``, ``set_mode`` and
``with mode(...)``; its floating-point conditions are handled with ``errstate``.
"""

from __future__ import annotations

from . import _dispatch, _vm_modes, _vm_pack
from ._catalogue.vm_interface import VmFunction, vm_functions
from ._vm_errors import errstate, geterr
from ._vm_modes import *  # noqa: F403 (the named mode values, get_mode, set_mode, mode)


def _docstring(function: VmFunction) -> str:
    """What the function computes, and the runtime function each dtype calls."""
    calls = "Calls, by the dtype the inputs promote to"
    lines = [function.description, "",
             calls + (":" if function.is_pack else " (with mode=, the m form):")]
    for loop in function.loops:
        dtypes = loop.input_dtype
        if loop.output_dtype != loop.input_dtype:
            dtypes += f" -> {loop.output_dtype}"
        row = f"    {dtypes:<24}{loop.runtime_name:<16}{loop.mode_runtime_name or ''}"
        lines.append(row.rstrip())
    lines.append("")
    if function.is_pack:
        lines += ["Every increment, index and mask is checked against the arrays before the",
                  "runtime is called. Arrays are taken flat, in C order."]
        return "\n".join(lines)
    results = "a tuple of two arrays" if function.outputs == 2 else "the array"
    lines += [
        "Integer and boolean inputs cast to the first precision that holds them exactly,",
        "as in numpy.exp (float32 up to 16 bits, float64 above). Inputs broadcast.",
        "",
        f"out: {results} to write, of the result's dtype and shape, writable and",
        "C-contiguous; returned. mode: an integer mode (HA, LA, EP, FTZDAZ_*, ERRMODE_*)",
        "for this call only. The runtime's conditions are handled as vm.errstate says.",
    ]
    return "\n".join(lines)


def _define(function: VmFunction):
    if function.is_pack:
        defined = getattr(_vm_pack, function.name)
        defined.__doc__ = _docstring(function)
        defined.__module__ = __name__
        return defined
    doc = f"{function.text_signature}\n--\n\n{_docstring(function)}"
    names = tuple(p.name for p in function.positional)
    return _dispatch.operation(function.name, names, doc, __name__)


_OPERATIONS = [f.name for f in vm_functions()]
globals().update({f.name: _define(f) for f in vm_functions()})

__all__ = _OPERATIONS + _vm_modes.__all__ + ["errstate", "geterr"]
