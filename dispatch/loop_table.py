"""Emits the loops of every vm math operation: the runtime functions by name, in the order
s, d, c, z; dispatch/loop.hpp reads everything else off their declarations."""

from __future__ import annotations

from catalogue.vm_interface import vm_functions
from runtime.declarations import HEADER


def loop_table() -> str:
    lines = [HEADER]
    operations = [f for f in vm_functions() if not f.is_pack]
    for function in operations:
        lines.append(f"constexpr Loop {function.name}_loops[] = {{")
        for loop in function.loops:
            plain, with_mode = loop.runtime_name, loop.mode_runtime_name
            lines.append(f"    loop<&runtime::{plain}, &runtime::{with_mode}>"
                         f'("{plain}", "{with_mode}"),')
        lines.append("};")
    lines.append("\nconstexpr OperationLoops operation_loops[] = {")
    lines += [f'    {{"{f.name}", {f.name}_loops}},' for f in operations]
    lines.append("};")
    return "\n".join(lines) + "\n"


def outputs() -> dict[str, str]:
    return {"dispatch/loop_table.inc": loop_table()}
