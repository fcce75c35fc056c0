"""Checks the catalogue before anything is generated from it, so that a mistake in a
record is reported as what to add where, not as a C++ error in a generated file."""

from __future__ import annotations

from .families import SERVICE, Family
from .functions import OFFERED_COUNT, SERVICES, offered_functions
from .numpy_rules import EVALUATED, IDENTITIES
from .operations import OPERATIONS, Operation
from .roles import COUNT, MODE, Role

OPERATIONS_FILE = "catalogue/operations.py"
FAMILIES_FILE = "catalogue/families.py"
ROLES_FILE = "catalogue/roles.py"


class CatalogueError(ValueError):
    def __init__(self, problems: list[str]):
        listed = "\n".join(f"  - {problem}" for problem in problems)
        super().__init__(f"the catalogue is inconsistent:\n{listed}")
        self.problems = problems


def _family_problems(family: Family) -> list[str]:
    where = f"family {family.name!r} ({FAMILIES_FILE})"
    problems = []
    if family.reach is None:
        problems.append(f"{where} has no reach rule: give it reach=ELEMENTWISE, STRIDED, "
                        "INDEXED or MASKED (and the bridge a rule for a new one)")
    if not family.bridge:
        problems.append(f"{where} has no bridge name: name the bridge::Family that checks it")
    names = [name for name, _ in family.parameters]
    if len(set(names)) != len(names):
        problems.append(f"{where} names a parameter twice: {names}")
    strings = [(name, role) for name, role in family.parameters if not isinstance(role, Role)]
    for name, role in strings:
        problems.append(f"{where}: parameter {name!r} has role {role!r}, which is not a Role: "
                        f"use one from {ROLES_FILE} or add one there")
    if strings:
        return problems
    for name, role in family.parameters:
        if not role.bridge:
            problems.append(f"role {role.name!r} ({ROLES_FILE}) has no bridge name: name the "
                            "bridge::Role that converts it")
        if role is COUNT or role is MODE or name in ("n", "mode"):
            problems.append(f"{where}: parameter {name!r} is the count or the mode, which every "
                            "math function has already: leave it out of the family")
    if family.reach is not None and family.reach.measure is not None and \
            all(role is not family.reach.measure for _, role in family.parameters):
        problems.append(f"{where}: its reach rule {family.reach.name!r} follows from a "
                        f"{family.reach.measure.name} parameter, which it lacks")
    measured = family.reach is not None and family.reach.measure is not None
    if measured and (family.reached_role is None or not family.reached_role.array):
        problems.append(f"{where}: reached= must name the array its reach rule "
                        f"{family.reach.name!r} measures, one of its parameters")
    if not measured and family.reached is not None:
        problems.append(f"{where}: reached= names an array, but its reach rule measures "
                        "none: leave it out")
    if family.is_elementwise:
        arrays = [role for _, role in family.parameters if role.array]
        if not any(role.written for role in arrays) or all(role.written for role in arrays):
            problems.append(f"{where}: an elementwise family reads at least one array and "
                            "writes at least one")
    elif family.reach is not None and family.parameters and family.vm_parameters is None:
        problems.append(f"{where}: vm has no ufunc for a family that is not elementwise: give "
                        "it vm_parameters (positional, keyword-only)")
    return problems


def _operands(family: Family):
    """What a ufunc takes of the family: its inputs' names and kinds, its output count."""
    operands = family.ufunc_operands()
    inputs = [(o.name, o.role.array) for o in operands if not o.role.written]
    return inputs, len(operands) - len(inputs)


def _operation_problems(operation: Operation) -> list[str]:
    where = f"operation {operation.name!r} ({OPERATIONS_FILE})"
    problems = []
    if any(not isinstance(role, Role) for family in operation.families
           for _, role in family.parameters):
        return problems  # its family's problems say what to fix
    if not operation.name.isidentifier() or not operation.name[:1].isupper():
        problems.append(f"{where}: a base name is an identifier that starts with a capital "
                        "letter, as in vsExp")
    if not operation.description.strip() or "\n" in operation.description:
        problems.append(f"{where} has no one-line description: write what it computes in "
                        "its record (vm's docstring)")
    if not operation.families:
        problems.append(f"{where} has no family: give it real=... and/or complex=..., "
                        f"families from {FAMILIES_FILE}")
    if len(operation.families) == 2:
        real, complex_ = operation.families
        if real.is_elementwise != complex_.is_elementwise or \
                (not real.is_elementwise and real is not complex_):
            problems.append(f"{where}: its real and complex families must both be elementwise, "
                            "or be the same gather or scatter family")
        elif _operands(real) != _operands(complex_):
            problems.append(f"{where}: vm gives one ufunc the operands of both its families, "
                            f"which differ ({real.name} and {complex_.name})")
    if operation.mode_forms and any(f.reach is not None and not f.is_elementwise
                                    for f in operation.families):
        problems.append(f"{where}: the runtime's gather and scatter functions have no m "
                        "forms: set mode_forms=False")
    if operation.identity not in IDENTITIES:
        problems.append(f"{where}: identity {operation.identity!r} is none a NumPy ufunc can "
                        f"have: {tuple(IDENTITIES)}")
    if operation.identity is not None and operation.families and \
            len(_operands(operation.families[0])[0]) != 2:
        problems.append(f"{where}: only an operation of two inputs has an identity")
    elementwise = bool(operation.families) and operation.families[0].is_elementwise
    if (operation.conditions is EVALUATED or operation.reduction is not None or
            operation.output_order is not None) and not elementwise:
        problems.append(f"{where}: conditions=, reduction= and output_order= describe a "
                        "ufunc: only an elementwise operation has them")
    elif operation.reduction is not None and \
            (len(_operands(operation.families[0])[0]), _operands(operation.families[0])[1]) \
            != (2, 1):
        problems.append(f"{where}: reduction= folds one output into one of two inputs: "
                        "only an operation of two inputs and one result reduces")
    if not operation.in_lib and (not elementwise or not operation.mode_forms):
        problems.append(f"{where}: an operation outside lib is a vm ufunc alone, which calls "
                        "the runtime's m forms: give it an elementwise family and m forms")
    if elementwise and operation.output_order is not None and \
            sorted(operation.output_order) != list(range(_operands(operation.families[0])[1])):
        problems.append(f"{where}: output_order= gives each of the runtime's results its "
                        f"place, once: {operation.output_order} is no order of them")
    problems += _counterpart_problems(operation, where)
    return problems


def _counterpart_problems(operation: Operation, where: str) -> list[str]:
    counterpart, difference = operation.counterpart, operation.numpy_difference
    problems = []
    if counterpart is not None and \
            not all(part.isidentifier() for part in counterpart.split(".")):
        problems.append(f"{where}: counterpart {counterpart!r} is neither NumPy's name of "
                        "a function (log) nor a dotted name of another library's "
                        "(scipy.special.ndtr)")
    if difference is not None and (not difference.strip() or "\n" in difference):
        problems.append(f"{where}: numpy_difference= is one line")
    if operation.families and not operation.families[0].is_elementwise and \
            operation.numpy_name is not None:
        problems.append(f"{where}: vm binds NumPy's name to a ufunc, and a gather or scatter "
                        "function is none: name no NumPy counterpart")
    return problems


def _alias_problems() -> list[str]:
    """Two operations may not claim one NumPy name that is no vm name: vm could bind it
    to one of them only."""
    vm_names = {operation.vm_name for operation in OPERATIONS}
    claimed: dict[str, list[str]] = {}
    for operation in OPERATIONS:
        name = operation.numpy_name
        if name is not None and name not in vm_names:
            claimed.setdefault(name, []).append(operation.name)
    return [f"operations {' and '.join(map(repr, bases))} ({OPERATIONS_FILE}) both name "
            f"NumPy's {name!r} as their counterpart, which vm can bind to one of them only: "
            "name it in the other's numpy_difference= instead"
            for name, bases in claimed.items() if len(bases) > 1]


def _unique(values, what: str, where: str) -> list[str]:
    seen, problems = set(), []
    for value in values:
        if value in seen:
            problems.append(f"two {what} are {value!r}: rename one in {where}")
        seen.add(value)
    return problems


def problems() -> list[str]:
    """Everything wrong with the catalogue, each as what to change where."""
    found = []
    used = [family for operation in OPERATIONS for family in operation.families]
    for family in dict.fromkeys([*used, SERVICE]):
        found += _family_problems(family)
    for operation in OPERATIONS:
        found += _operation_problems(operation)
    for service in SERVICES:
        if service.parameter is not None and not isinstance(service.parameter[1], Role):
            found.append(f"service vml{service.operation} (catalogue/functions.py): its "
                         f"parameter's role is not a Role from {ROLES_FILE}")
    found += _unique((o.name for o in OPERATIONS), "operations", OPERATIONS_FILE)
    found += _unique((o.vm_name for o in OPERATIONS), "vm names", OPERATIONS_FILE)
    found += _alias_problems()
    if not found:  # the offered names, in every spelling, differ
        offered = offered_functions()
        found += _unique((f.name for f in offered), "offered functions", OPERATIONS_FILE)
        if len(offered) != OFFERED_COUNT:
            found.append(f"the catalogue offers {len(offered)} functions, not OFFERED_COUNT "
                         f"= {OFFERED_COUNT} (catalogue/functions.py): set it to "
                         f"{len(offered)} when the change is meant")
    return sorted(set(found), key=found.index)


def validate() -> None:
    found = problems()
    if found:
        raise CatalogueError(found)
