"""The runtime's mode: named values and the calling thread's current mode."""

from __future__ import annotations

import operator
from contextlib import contextmanager
from functools import cache
from importlib import import_module
from typing import Iterator

from ._catalogue.mode_values import DEFINED_BITS, FTZDAZ_SETTINGS, MODE_VALUES, STATUS_CODES

globals().update(MODE_VALUES, **STATUS_CODES)
__all__ = [*MODE_VALUES, *STATUS_CODES, "get_mode", "set_mode", "mode"]

_ACCURACY_MASK = MODE_VALUES["ACCURACY_MASK"]
_FTZDAZ_MASK = MODE_VALUES["FTZDAZ_MASK"]
_FTZDAZ_CURRENT = MODE_VALUES["FTZDAZ_CURRENT"]
_FTZDAZ_OFF = MODE_VALUES["FTZDAZ_OFF"]
_FTZDAZ_SETTINGS = set(FTZDAZ_SETTINGS.values())


@cache
def _lib():
    """lib, imported when the mode is first read or set: vm's ufuncs do without it, and
    building its 1044 functions costs a sixth of vm's import."""
    return import_module(".tessivec", __package__).lib


def _checked(value) -> int:
    """The mode, if it holds only values the runtime defines; trap flags and other
    undefined bits are refused. (lib's mode setter refuses undefined accuracies.)"""
    value = operator.index(value)
    if not 0 <= value <= 0xFFFFFFFF:
        raise ValueError(f"a mode is from 0 to 0xFFFFFFFF, not {value:#x}")
    if value & ~DEFINED_BITS:
        raise ValueError(f"mode {value:#x} sets bits {value & ~DEFINED_BITS:#x}, which are no "
                         "accuracy, FTZDAZ or error-mode value (trap flags are refused)")
    if value & _FTZDAZ_MASK not in _FTZDAZ_SETTINGS:
        raise ValueError(f"mode {value:#x}: FTZDAZ {value & _FTZDAZ_MASK:#x} is none of "
                         "FTZDAZ_ON, FTZDAZ_OFF, FTZDAZ_CURRENT")
    return value


def get_mode() -> int:
    """The runtime's mode for the calling thread."""
    return _lib().vmlGetMode()


def set_mode(value: int) -> int:
    """Sets the runtime's mode for the calling thread; returns the previous mode.

    A field given as 0 keeps its current setting (the runtime's rule), so
    ``set_mode(vm.EP)`` changes the accuracy alone. vm's ufuncs follow the accuracy and
    FTZDAZ fields; the error-mode field concerns ``lib`` only (vm reports conditions
    through ``numpy.errstate``). Values the runtime does not define, and trap flags,
    are refused with ValueError.
    """
    return _lib().vmlSetMode(_checked(value))


def _restore(previous: int) -> None:
    lib = _lib()
    lib.vmlSetMode(previous)
    # FTZDAZ_CURRENT is 0, which the runtime reads as "keep": a block that switched
    # FTZDAZ on would leave it on. FTZDAZ_OFF computes as CURRENT does on a processor
    # whose FTZ and DAZ flags are clear, as they are for Python.
    if previous & _FTZDAZ_MASK == _FTZDAZ_CURRENT and lib.vmlGetMode() & _FTZDAZ_MASK:
        lib.vmlSetMode(previous | _FTZDAZ_OFF)


@contextmanager
def mode(value: int) -> Iterator[int]:
    """Runs a block under another runtime mode: ``with vm.mode(vm.EP): ...``.

    The runtime keeps its mode per thread: the block changes the calling thread's mode
    only, and other threads keep theirs. On leaving the block, also by an exception,
    the previous mode is set again; the ``as`` target is that previous mode. FTZDAZ,
    which the runtime cannot return to 0 (its "keep" value), returns to FTZDAZ_OFF.
    """
    previous = set_mode(value)
    try:
        yield previous
    finally:
        _restore(previous)
