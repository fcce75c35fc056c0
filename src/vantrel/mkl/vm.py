"""NumPy ufuncs for every elementwise vector math operation of the runtime.

``vm.exp``, ``vm.add``, ``vm.powx``, ``vm.sincos``: one ``numpy.ufunc`` per base name, in
lower case, also bound to NumPy's name of the operation where NumPy has a function of
the same meaning and vm no function of that name (``vm.log is vm.ln``, ``vm.power is
vm.pow``), with one loop per precision calling the runtime's function of that
precision (float32 ``s``, float64 ``d``, complex64 ``c``, complex128 ``z``). NumPy does
the rest as for its own ufuncs: dtypes, broadcasting, ``out=``, ``where=``, casting,
``reduce``/``accumulate``/``outer``/``at``, ``__array_ufunc__`` (dask, xarray, pandas,
masked arrays) and ``numpy.errstate`` for the conditions the runtime reports
(domain: invalid, singularity: divide, overflow, underflow). They compute in the calling
thread's accuracy (``with vm.mode(vm.EP): ...``); ``vm.la``, ``vm.ha`` and ``vm.ep`` hold
the same ufuncs in one accuracy each. Gather and scatter (``packi``, ``packv``, ``packm``,
``unpacki``, ``unpackv``, ``unpackm``) are functions: they are not elementwise.
"""

from __future__ import annotations

import copyreg
import sys
from importlib import import_module
from types import ModuleType

try:
    from . import _dispatch
except ImportError as _error:
    from ._runtime import vm_load_error

    raise vm_load_error(_error) from None
from ._catalogue.mode_values import ACCURACIES as _ACCURACIES
from ._vm_modes import *  # noqa: F403 (the named mode values, get_mode, set_mode, mode)
from ._vm_modes import __all__ as _mode_names

# Each dict holds NumPy's names of the operations too (log beside ln), bound to the same
# ufunc, which keeps vm's name (vm.log.__name__ == "ln") for pickle to find it by.
_OPERATIONS = _dispatch.ufuncs(None, __name__)
globals().update(_OPERATIONS)
# Gather and scatter: functions of their own, not ufuncs.
globals().update({name: getattr(_dispatch, name) for name in _dispatch.gather_scatter})


def _accuracy(name: str) -> ModuleType:
    """vm's ufuncs in one of the runtime's accuracies, whatever the thread's mode: a plain
    module object, whose attributes Python's caches serve as fast as vm's own."""
    namespace = ModuleType(f"{__name__}.{name}", f"vm's ufuncs in the accuracy "
                           f"{name.upper()}, whatever the thread's mode.")
    vars(namespace).update(_dispatch.ufuncs(name, __name__))
    namespace.__module__ = __name__  # where pickle finds it, as vm.la
    return namespace


# vm.la, vm.ha and vm.ep: one namespace per accuracy the runtime defines. Made at import:
# a module __getattr__ that made them when first reached would keep Python's attribute
# caches from serving vm.exp.
_ACCURACY_NAMES = [name.lower() for name in _ACCURACIES]
globals().update({name: _accuracy(name) for name in _ACCURACY_NAMES})


def _reduce_module(module: ModuleType, _previous=copyreg.dispatch_table.get(ModuleType)):
    """vm and its accuracies pickle by reference (vm imported again where they are
    unpickled): pickle reaches a two-output ufunc, named as its package reaches it
    (``vm.modf``, ``la.modf``), through them. Any other module pickles as it did. A
    reducer for the module type rather than a module subclass: Python's attribute
    caches serve ``vm.exp`` only on a plain module."""
    this = sys.modules.get(__name__)
    if module is this:
        return import_module, (__name__,)
    for name in _ACCURACY_NAMES:
        if module is vars(this).get(name):
            return name
    if _previous is not None:
        return _previous(module)
    raise TypeError(f"cannot pickle {type(module).__name__!r} object")


copyreg.pickle(ModuleType, _reduce_module)

__all__ = sorted([*_OPERATIONS, *_dispatch.gather_scatter]) + [*_ACCURACY_NAMES, *_mode_names]


def __dir__() -> list[str]:
    """vm's own names (its ufuncs and functions, the accuracies, the mode values and
    functions) and the module's attributes, without the helpers this module imports."""
    return sorted({*__all__, *(name for name in globals() if name[:2] == name[-2:] == "__")})
