"""Emits what the wrapper template knows of parameters and families, from the catalogue's
roles and families: the roles by their bridge names with what each is (an array, written
by the runtime, an integer the runtime reads through a pointer), the families, and the
rule by which each family's runtime functions reach into their arrays."""

from __future__ import annotations

from catalogue.c_types import Primitive
from catalogue.families import ELEMENTWISE, INDEXED, MASKED, STRIDED
from catalogue.precisions import PRECISIONS
from catalogue.type_table import TypeTable
from runtime.declarations import HEADER

RULES = (ELEMENTWISE, STRIDED, INDEXED, MASKED)


def _identifier(name: str) -> str:
    return name.replace(" ", "_")


INTEGERS = ("int", "unsigned int", "long long")


def _integer(role) -> bool:
    """Whether the role's values are one integer type in every precision."""
    values = {role.value(precision) for precision in PRECISIONS.values()}
    return len(values) == 1 and isinstance(next(iter(values)), Primitive) and \
        next(iter(values)).name in INTEGERS


def role_traits(table: TypeTable) -> str:
    roles = {}
    for function in table.functions:
        for parameter in function.params:
            role = parameter.role
            traits = (role.array, role.written, _integer(role))
            if roles.setdefault(role.bridge, traits) != traits:
                raise ValueError(f"roles of bridge name {role.bridge} differ in what they are")
    families = {}
    for function in table.functions:
        family = function.family
        if family.reached is None:
            rule = f"{{Rule::{_identifier(ELEMENTWISE.name)}, Role::count}}"
        else:
            rule = (f"{{Rule::{_identifier(family.reach.name)}, "
                    f"Role::{family.reached_role.bridge}}}")
        if families.setdefault(function.bridge_family, rule) != rule:
            raise ValueError(f"bridge family {function.bridge_family} has two reach rules")
    lines = [HEADER, "enum class Role {"]
    lines += [f"    {name}," for name in roles]
    lines += ["};", "", "struct RoleTraits {",
              "    bool array;  // a pointer to elements, in every spelling",
              "    bool written;  // the runtime writes it",
              "    bool integer;  // integers in every precision: a count, an index array, ...",
              "};", "", "constexpr RoleTraits traits_of(Role role) {", "    switch (role) {"]
    for name, (array, written, integer) in roles.items():
        values = ", ".join("true" if v else "false" for v in (array, written, integer))
        lines += [f"        case Role::{name}:", f"            return {{{values}}};"]
    lines += ["    }", "    return {false, false, false};", "}", "",
              "// How far a family's runtime functions reach into the array its rule measures.",
              "enum class Rule {"]
    lines += [f"    {_identifier(rule.name)}," for rule in RULES]
    lines += ["};", "", "enum class Family {"]
    lines += [f"    {name}," for name in families]
    lines += ["};", "", "struct FamilyReach {", "    Rule rule;",
              "    Role reached;  // the array the rule measures; the others hold the count's",
              "};", "", "constexpr FamilyReach reach_of(Family family) {", "    switch (family) {"]
    for name, rule in families.items():
        lines += [f"        case Family::{name}:", f"            return {rule};"]
    lines += ["    }", f"    return {{Rule::{_identifier(ELEMENTWISE.name)}, Role::count}};", "}"]
    return "\n".join(lines) + "\n"


def outputs(table: TypeTable) -> dict[str, str]:
    return {"common/role_traits.inc": role_traits(table)}
