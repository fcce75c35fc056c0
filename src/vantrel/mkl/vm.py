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

import sys
from importlib import import_module
from types import ModuleType, SimpleNamespace

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


class _Accuracy(SimpleNamespace):
    """vm's ufuncs in one of the runtime's accuracies, whatever the thread's mode."""

    def __init__(self, name: str):
        super().__init__(**_dispatch.ufuncs(name, __name__))
        self.__name = name

    def __reduce__(self) -> str:
        return self.__name  # by reference, as vm.la


# vm.la, vm.ha and vm.ep: one namespace per accuracy the runtime defines.
_ACCURACY_NAMES = [name.lower() for name in _ACCURACIES]
globals().update({name: _Accuracy(name) for name in _ACCURACY_NAMES})


class _Module(ModuleType):
    """vm pickles by reference, imported again where it is unpickled: pickle reaches a
    two-output ufunc, named as its package reaches it (``vm.modf``), through it."""

    def __reduce__(self):
        return import_module, (self.__name__,)


sys.modules[__name__].__class__ = _Module

__all__ = sorted([*_OPERATIONS, *_dispatch.gather_scatter]) + [*_ACCURACY_NAMES, *_mode_names]


def __dir__() -> list[str]:
    """vm's own names (its ufuncs and functions, the accuracies, the mode values and
    functions) and the module's attributes, without the helpers this module imports."""
    return sorted({*__all__, *(name for name in globals() if name[:2] == name[-2:] == "__")})
