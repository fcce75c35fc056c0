"""Valid arguments for any offered function, built from its parameter roles."""

from vantrel.mkl._catalogue.functions import PRECISIONS
from vantrel.mkl._catalogue.roles import (
    CALLBACK,
    COUNT,
    INCREMENT,
    INDEXES,
    MASK,
    MODE,
    MODE_VALUE,
    SCALAR,
    STATUS,
)

from runtime_values import HA, STATUS_OK


class Spy:
    """A number that counts how often a conversion asks for its value."""

    def __init__(self):
        self.conversions = 0

    def __float__(self):
        self.conversions += 1
        return 1.0

    def __index__(self):
        self.conversions += 1
        return 1

    __int__ = __index__  # the backend's integer conversions ask for __int__


def element_values(type_name: str, n: int, shift: float = 0.0):
    """Inputs from 1/8 to 13/8: mostly inside each function's domain, some past 1."""
    reals = [0.125 + shift + 1.5 * i / max(n, 1) for i in range(n)]
    if type_name.startswith("MKL_Complex"):
        return [(x, 0.5 - x / 2) for x in reals]
    return reals


class Arguments:
    """The arguments of one call, and the arrays it writes."""

    def __init__(self, ffi, function, n=4):
        self.outputs = []
        self.inputs = 0
        self.values = [self._argument(ffi, function, p, n) for p in function.params]

    def _argument(self, ffi, function, parameter, n):
        role, by_ref = parameter.role, function.by_reference
        precision = PRECISIONS.get(function.letter)
        item = role.value(precision).spelling  # of the value, or of each element
        if role in (COUNT, INCREMENT):
            value = n if role is COUNT else 1
            return ffi.new("int *", value) if by_ref else value
        if role is INDEXES:
            return ffi.new("int[]", list(range(n)))
        if role is MASK:
            return ffi.new("int[]", [1, 0] * (n // 2) + [1] * (n % 2))
        if role.array and role.written:
            array = ffi.new(f"{item}[]", n)
            self.outputs.append(array)
            return array
        if role.array:
            self.inputs += 1
            return ffi.new(f"{item}[]", element_values(item, n, 0.0625 * (self.inputs - 1)))
        if role is SCALAR:
            value = (2.0, 0.5) if precision.is_complex else 2.0
            pointer = ffi.new(f"{item} *", value)
            return pointer if by_ref else (pointer[0] if precision.is_complex else value)
        if role in (MODE, MODE_VALUE, STATUS):
            value = HA if role is not STATUS else STATUS_OK
            return ffi.new(f"{item} *", value) if by_ref else value
        if role is CALLBACK:
            return ffi.NULL
        raise ValueError(f"no valid argument for role {role!r}")

    def output_bytes(self, ffi):
        return [bytes(ffi.buffer(array)) for array in self.outputs]
