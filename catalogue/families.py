"""The families: the parameters a runtime function takes after the count and before
the mode, and the rule that says how far the runtime reaches into its arrays."""

from __future__ import annotations

from dataclasses import dataclass

from .roles import (
    COUNT,
    INCREMENT,
    INDEXES,
    INPUT,
    MASK,
    OUTPUT,
    REAL_INPUT,
    REAL_OUTPUT,
    SCALAR,
    Role,
)
from .terms import Term


@dataclass(frozen=True, eq=False, repr=False)
class Reach(Term):
    """How many elements of an array the runtime reads or writes (common/reach.hpp)."""

    name: str
    measure: Role | None  # the parameter the reach follows from besides the count


ELEMENTWISE = Reach("elementwise", None)  # every array holds the count's number of elements
STRIDED = Reach("strided", INCREMENT)  # elements 0, incr, ..., (n-1)*incr
INDEXED = Reach("indexed", INDEXES)  # up to the largest index
MASKED = Reach("masked", MASK)  # one element per non-zero mask entry
NO_ARRAYS = Reach("no arrays", None)  # a service function


@dataclass(frozen=True)
class VmParameter:
    name: str
    role: Role


@dataclass(frozen=True)
class UfuncOperand:
    position: int  # among the runtime function's parameters between the count and the mode
    name: str
    role: Role


@dataclass(frozen=True, eq=False, repr=False)
class Family(Term):
    name: str
    parameters: tuple[tuple[str, Role], ...]  # after the count, before the mode
    reach: Reach | None
    bridge: str | None  # the bridge's name of the family (bridge::Family)
    # vm's parameters where they are not the family's own (gather and scatter take an
    # index or mask where the runtime takes a count): positional, then keyword-only
    vm_parameters: tuple[tuple[VmParameter, ...], tuple[VmParameter, ...]] | None = None
    # The array the reach rule measures, where it is not the count's number of elements
    # (gather and scatter); every other array holds the count's number.
    reached: str | None = None

    @property
    def reached_role(self) -> Role | None:
        return next((role for name, role in self.parameters if name == self.reached), None)

    @property
    def is_elementwise(self) -> bool:
        return self.reach is ELEMENTWISE

    def ufunc_operands(self, output_order: tuple[int, ...] | None = None) -> list[UfuncOperand]:
        """vm's ufunc operands of an elementwise family, in the ufunc's order: the
        parameters the runtime reads, then the ones it writes (in `output_order`, the
        positions among them of the ufunc's outputs, where given)."""
        placed = [UfuncOperand(position, name, role)
                  for position, (name, role) in enumerate(self.parameters)]
        inputs = [operand for operand in placed if not operand.role.written]
        outputs = [operand for operand in placed if operand.role.written]
        if output_order is not None:
            outputs = [outputs[k] for k in output_order]
        return inputs + outputs


def _elementwise(name: str, *parameters: tuple[str, Role]) -> Family:
    return Family(name, parameters, ELEMENTWISE, "elementwise")


ONE_INPUT = _elementwise("one_input", ("a", INPUT), ("r", OUTPUT))
TWO_INPUT = _elementwise("two_input", ("a", INPUT), ("b", INPUT), ("r", OUTPUT))
POWX = _elementwise("powx", ("a", INPUT), ("b", SCALAR), ("r", OUTPUT))
LINEAR_FRAC = _elementwise("linear_frac", ("a", INPUT), ("b", INPUT), ("scalea", SCALAR),
                           ("shifta", SCALAR), ("scaleb", SCALAR), ("shiftb", SCALAR),
                           ("r", OUTPUT))
TWO_OUTPUT = _elementwise("two_output", ("a", INPUT), ("r1", OUTPUT), ("r2", OUTPUT))
COMPLEX_TO_REAL = _elementwise("complex_to_real", ("a", INPUT), ("r", REAL_OUTPUT))
REAL_TO_COMPLEX = _elementwise("real_to_complex", ("a", REAL_INPUT), ("r", OUTPUT))


def _vm(*parameters: tuple[str, Role]) -> tuple[VmParameter, ...]:
    return tuple(VmParameter(name, role) for name, role in parameters)


# vm's gather returns a new array unless given one (out=); its scatter writes into the
# array the caller gives. PackI's vm form takes the count, since no array implies it.
PACK_INCREMENT = Family("pack_increment", (("a", INPUT), ("incra", INCREMENT), ("y", OUTPUT)),
                        STRIDED, "pack_increment",
                        (_vm(("a", INPUT), ("incr", INCREMENT), ("n", COUNT)),
                         _vm(("out", OUTPUT))), reached="a")
PACK_INDEXES = Family("pack_indexes", (("a", INPUT), ("ia", INDEXES), ("y", OUTPUT)),
                      INDEXED, "pack_indexes",
                      (_vm(("a", INPUT), ("index", INDEXES)), _vm(("out", OUTPUT))), reached="a")
PACK_MASK = Family("pack_mask", (("a", INPUT), ("ma", MASK), ("y", OUTPUT)),
                   MASKED, "pack_mask",
                   (_vm(("a", INPUT), ("mask", MASK)), _vm(("out", OUTPUT))), reached="y")
UNPACK_INCREMENT = Family("unpack_increment", (("a", INPUT), ("y", OUTPUT), ("incry", INCREMENT)),
                          STRIDED, "unpack_increment",
                          (_vm(("a", INPUT), ("incr", INCREMENT), ("out", OUTPUT)), ()),
                          reached="y")
UNPACK_INDEXES = Family("unpack_indexes", (("a", INPUT), ("y", OUTPUT), ("iy", INDEXES)),
                        INDEXED, "unpack_indexes",
                        (_vm(("a", INPUT), ("index", INDEXES), ("out", OUTPUT)), ()),
                        reached="y")
UNPACK_MASK = Family("unpack_mask", (("a", INPUT), ("y", OUTPUT), ("my", MASK)),
                     MASKED, "unpack_mask",
                     (_vm(("a", INPUT), ("mask", MASK), ("out", OUTPUT)), ()), reached="a")

# The service functions' own parameters are in their records; the bridge tells the
# error callback's setter and clearer apart by the service's callback effect.
SERVICE = Family("service", (), NO_ARRAYS, "service")
