"""Floating-point conditions of vm calls, handled the way numpy.errstate handles them.

After each call the native side reads the runtime's per-thread error status and looks
up the action for each condition it reports in the context variable below.
"""

from __future__ import annotations

import contextvars
import threading
from contextlib import ContextDecorator

from . import _dispatch

CONDITIONS = ("domain", "singularity", "overflow", "underflow")
ACTIONS = ("ignore", "warn", "raise")

# numpy.errstate's defaults: invalid, divide and over warn, under is ignored.
_DEFAULT = ("warn", "warn", "warn", "ignore")
_error_actions = contextvars.ContextVar("vantrel.mkl.vm.errstate", default=_DEFAULT)
_dispatch.set_error_actions(_error_actions)


def geterr() -> dict[str, str]:
    """The action of each condition in the current context."""
    return dict(zip(CONDITIONS, _error_actions.get()))


class errstate(ContextDecorator):
    """Handles the runtime's floating-point conditions within a block.

    ``with vm.errstate(overflow='raise', underflow='ignore'): ...``. Each of
    ``domain`` (an argument outside the function's domain: NaN results), ``singularity``
    (a pole: infinite results), ``overflow`` and ``underflow`` takes ``'ignore'``,
    ``'warn'`` (a RuntimeWarning) or ``'raise'`` (a FloatingPointError); ``all`` sets
    those not given. The message names the vm function, the runtime function and the
    condition. The default is numpy.errstate's: underflow ignored, the others warn.

    The setting is a context variable, so it holds for the calling thread (and task)
    only; the runtime keeps one status per thread and reports one condition per call
    (the last one it met) per strip of at most 2**31 - 1 elements.
    """

    def __init__(self, *, all: str | None = None, domain: str | None = None,
                 singularity: str | None = None, overflow: str | None = None,
                 underflow: str | None = None):
        given = dict(zip(CONDITIONS, (domain, singularity, overflow, underflow)))
        for name, action in {"all": all, **given}.items():
            if action is not None and action not in ACTIONS:
                raise ValueError(f"vm.errstate: {name} must be one of {ACTIONS}, not {action!r}")
        self._all = all
        self._given = given
        # One stack per thread: an instance used as a decorator may run in several.
        self._entered = threading.local()

    def __enter__(self) -> errstate:
        current = _error_actions.get()
        actions = tuple(self._given[name] or self._all or current[i]
                        for i, name in enumerate(CONDITIONS))
        self._tokens().append(_error_actions.set(actions))
        return self

    def __exit__(self, *exception) -> None:
        _error_actions.reset(self._tokens().pop())

    def _tokens(self) -> list[contextvars.Token]:
        if not hasattr(self._entered, "tokens"):
            self._entered.tokens = []
        return self._entered.tokens
