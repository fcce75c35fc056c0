"""The NumPy-level interface: one ``vm`` function per base name, derived from the catalogue.

A vm function takes the arrays and scalars of its family's runtime functions as
positional arguments and picks, by the inputs' dtype, one of its loops: the by-value
runtime function of one precision letter, plain or in its ``m`` form. A ufunc whose
operation has a NumPy counterpart is also bound to NumPy's name of it (``vm.log is
vm.ln``), unless that name is already a vm function's.
"""

from __future__ import annotations

from dataclasses import dataclass
from functools import lru_cache

from .families import VmParameter
from .operations import OPERATIONS, Operation
from .precisions import NUMPY_DTYPES, PRECISIONS


@dataclass(frozen=True)
class Loop:
    letter: str
    input_dtype: str  # NumPy dtype of the array inputs
    output_dtype: str  # NumPy dtype of the results
    runtime_name: str  # the by-value runtime function: vdExp
    mode_runtime_name: str | None  # its m form, vmdExp, which the ufunc calls; None for pack


@dataclass(frozen=True)
class VmFunction:
    name: str  # vm.<name>
    base: str
    operation: Operation
    positional: tuple[VmParameter, ...]  # positional-only
    keywords: tuple[VmParameter, ...]  # keyword-only, default None (pack and unpack only)
    outputs: int  # results of one call: 1, or 2 for sincos and modf
    loops: tuple[Loop, ...]  # in the order s, d, c, z: the first the inputs cast to wins
    aliases: tuple[str, ...] = ()  # other vm names of the same object: NumPy's name

    @property
    def description(self) -> str:
        return self.operation.description

    @property
    def identity(self) -> int | None:
        return self.operation.identity

    @property
    def is_pack(self) -> bool:
        """A gather or scatter function rather than a ufunc."""
        return not self.operation.families[0].is_elementwise

    @property
    def text_signature(self) -> str:
        parts = [p.name for p in self.positional] + ["/"]
        if self.keywords:
            parts += ["*"] + [f"{p.name}=None" for p in self.keywords]
        return f"{self.name}({', '.join(parts)})"


def _loop(operation: Operation, family, precision) -> Loop:
    """The loop of one precision: its arrays' NumPy types, read off their roles."""
    arrays = [role for _, role in family.parameters if role.array]
    input_dtype = NUMPY_DTYPES[next(r for r in arrays if not r.written).value(precision)]
    output_dtype = NUMPY_DTYPES[next(r for r in arrays if r.written).value(precision)]
    name = precision.letter + operation.name
    return Loop(precision.letter, input_dtype, output_dtype, "v" + name,
                "vm" + name if operation.mode_forms else None)


def _operands(family) -> tuple[tuple[VmParameter, ...], int]:
    """A ufunc's inputs, the runtime function's arrays and scalars it reads, and how
    many results it writes."""
    operands = family.ufunc_operands()
    inputs = tuple(VmParameter(o.name, o.role) for o in operands if not o.role.written)
    return inputs, len(operands) - len(inputs)


@lru_cache(maxsize=None)
def vm_aliases() -> dict[str, str]:
    """Every alias, NumPy's name of an operation where it is no vm name already, with
    the vm name it is bound beside (log: ln)."""
    names = {operation.vm_name for operation in OPERATIONS}
    return {operation.numpy_name: operation.vm_name for operation in OPERATIONS
            if operation.numpy_name is not None and operation.numpy_name not in names}


@lru_cache(maxsize=None)
def vm_functions() -> tuple[VmFunction, ...]:
    """Every vm function, in the order of their names."""
    aliases = {name: alias for alias, name in vm_aliases().items()}
    result = []
    for operation in OPERATIONS:
        # In the order s, d, c, z: NumPy picks the first loop the inputs cast to.
        loops = tuple(_loop(operation, operation.family_in(precision), precision)
                      for precision in PRECISIONS.values() if operation.family_in(precision))
        family = operation.families[0]
        if family.vm_parameters is not None:
            positional, keywords = family.vm_parameters
            outputs = 1
        else:
            # A ufunc: its keywords are NumPy's. Its families agree on its operands
            # (the validation pass sees to that).
            positional, outputs = _operands(family)
            keywords = ()
        alias = aliases.get(operation.vm_name)
        result.append(VmFunction(operation.vm_name, operation.name, operation, positional,
                                 keywords, outputs, loops, (alias,) if alias else ()))
    return tuple(sorted(result, key=lambda f: f.name))
