"""Intel MKL's vector math functions for Python.

``vantrel.mkl.vm`` offers every operation to NumPy arrays, with NumPy's dtype rules
and floating-point error handling; ``vantrel.mkl.tessivec`` offers the runtime's
functions themselves as ``lib``, with ``ffi`` for the types they take.
``vantrel.mkl.show_config()`` shows what they run on.
"""

import sys as _sys

from . import _runtime


def __getattr__(name):
    # Read from the installed metadata when asked for: importing importlib.metadata
    # costs more than the rest of the import.
    if name == "__version__":
        from importlib import metadata
        try:
            return metadata.version("vantrel-mkl")
        except metadata.PackageNotFoundError:  # a source tree put on sys.path by hand
            return "0+unknown"
    if name in ("vm", "tessivec"):  # imported when first reached, as pickle reaches them
        import importlib
        return importlib.import_module(f"{__name__}.{name}")
    if name == "show_config":
        from ._config import show_config
        return show_config
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__():
    return sorted({*globals(), *_LAZY})


# What __getattr__ gives when first asked for.
_LAZY = ("__version__", "show_config", "tessivec", "vm")


class _Unloadable:
    """A meta path finder that fails the import of the extensions with the reason they
    cannot load here, instead of the dynamic linker's bare 'cannot open shared object
    file' or an extension shared with another interpreter."""

    def __init__(self, error: ImportError):
        self.error = error

    def find_spec(self, name, path=None, target=None):
        if name in (f"{__name__}.tessivec", f"{__name__}._dispatch"):
            raise type(self.error)(str(self.error), name=name)
        return None


# The package itself imports without the runtime, so that its version and the
# self-check can say what is missing. This check runs in every interpreter; an
# extension's own initialization runs only in the first that imports it.
if _runtime.in_subinterpreter():
    _sys.meta_path.insert(0, _Unloadable(ImportError(_runtime.SUBINTERPRETER)))
else:
    try:
        _runtime.load()
    except _runtime.RuntimeNotLoadable as _error:
        _sys.meta_path.insert(0, _Unloadable(_error))
