"""The catalogue: every function the module offers, derived from one record per operation.

The records (``operations``), their families and the parameters' roles are the one
place where functions are described. The build generates the runtime declarations,
the type context tables and the wrapper list from them, and the Python package reads
them for its own interface.

A math function's name is ``v``, an optional ``m`` (one more parameter: the mode, last),
a precision letter and a base name; every mixed-case name is offered three times: as
written (arguments by value) and wholly lower and upper case (every argument by pointer).
"""

from __future__ import annotations

from dataclasses import dataclass
from functools import cached_property

from .c_types import INT, UINT, VOID, Function
from .families import SERVICE, Family
from .operations import OPERATIONS, Operation
from .precisions import PRECISIONS, Precision  # noqa: F401
from .records import RECORDS, TYPE_NAMES, VML_ERROR_CALLBACK  # noqa: F401
from .roles import CALLBACK, COUNT, MODE, MODE_VALUE, STATUS, Role

# --- service functions -----------------------------------------------------------------


@dataclass(frozen=True)
class Service:
    operation: str  # the name after "vml"
    result: object
    parameter: tuple[str, Role] | None = None  # (name, role)
    callback_effect: str | None = None  # "setter" or "clearer" of the error callback


SERVICES = (
    Service("SetMode", UINT, ("mode", MODE_VALUE)),
    Service("GetMode", UINT),
    Service("SetErrStatus", INT, ("status", STATUS)),
    Service("GetErrStatus", INT),
    Service("ClearErrStatus", INT),
    Service("SetErrorCallBack", VML_ERROR_CALLBACK, ("callback", CALLBACK), "setter"),
    Service("GetErrorCallBack", VML_ERROR_CALLBACK),
    Service("ClearErrorCallBack", VML_ERROR_CALLBACK, callback_effect="clearer"),
)

# --- the derived catalogue -------------------------------------------------------------

SPELLINGS = ("value", "lower", "upper")


@dataclass(frozen=True)
class Parameter:
    name: str
    role: Role
    c_type: object


@dataclass(frozen=True)
class Offered:
    """One offered function in one spelling (or, from vm_only_functions, a runtime
    function that only vm calls)."""

    name: str  # the name lib offers it under
    mixed_name: str  # its by-value spelling
    spelling: str  # "value", "lower" or "upper"
    base: str | None  # None for a service function
    letter: str | None
    with_mode: bool
    family: Family  # SERVICE for a service function
    params: tuple[Parameter, ...]
    result: object
    callback_effect: str | None = None  # how a service function changes the error callback:
    # "setter" or "clearer"
    operation: Operation | None = None  # None for a service function

    @property
    def bridge_family(self) -> str:
        """The bridge's name of the rules the wrapper applies (bridge::Family)."""
        if self.callback_effect is not None:
            return f"error_callback_{self.callback_effect}"
        return self.family.bridge

    @property
    def by_reference(self) -> bool:
        return self.spelling != "value"

    @property
    def runtime_symbol(self) -> str:
        # On Linux the runtime exports the by-reference spellings only in Fortran style,
        # with a trailing underscore; the by-value spelling under its own name.
        return self.name + "_" if self.by_reference else self.name

    @cached_property
    def function_type(self) -> Function:
        return Function(self.result, tuple(p.c_type for p in self.params))


def spell(mixed_name: str, spelling: str) -> str:
    return {"value": mixed_name, "lower": mixed_name.lower(), "upper": mixed_name.upper()}[spelling]


def _math_functions(operations, spellings=SPELLINGS):
    for operation in operations:
        for letter, precision in PRECISIONS.items():
            family = operation.family_in(precision)
            if family is None:
                continue
            forms = (False, True) if operation.mode_forms else (False,)
            for with_mode in forms:
                mixed = ("vm" if with_mode else "v") + letter + operation.name
                mode = (("mode", MODE),) if with_mode else ()
                roles = (("n", COUNT),) + family.parameters + mode
                for spelling in spellings:
                    by_ref = spelling != "value"
                    params = tuple(Parameter(name, role, role.c_type(precision, by_ref))
                                   for name, role in roles)
                    yield Offered(spell(mixed, spelling), mixed, spelling, operation.name, letter,
                                  with_mode, family, params, VOID, operation=operation)


def _service_functions():
    for service in SERVICES:
        mixed = "vml" + service.operation
        for spelling in SPELLINGS:
            params = ()
            if service.parameter is not None:
                name, role = service.parameter
                params = (Parameter(name, role, role.c_type(None, spelling != "value")),)
            yield Offered(spell(mixed, spelling), mixed, spelling, None, None, False, SERVICE,
                          params, service.result, service.callback_effect)


# How many functions lib offers, in all spellings: the catalogue's promise, checked by
# the validation pass, so that a base name added or lost by mistake fails the build.
OFFERED_COUNT = 1044


def offered_functions() -> list[Offered]:
    """All offered functions, in the byte order of their names."""
    functions = list(_math_functions(o for o in OPERATIONS if o.in_lib))
    functions += list(_service_functions())
    return sorted(functions, key=lambda f: f.name.encode("ascii"))


def vm_only_functions() -> list[Offered]:
    """The runtime functions of the operations lib does not offer, plain and m forms in
    their by-value spelling: what vm declares and calls of them, and what the runtime
    must export for vm to load. None of them is in lib's tables."""
    functions = _math_functions((o for o in OPERATIONS if not o.in_lib), ("value",))
    return sorted(functions, key=lambda f: f.name.encode("ascii"))
