"""Emits the table the extension builds vm's ufuncs from: for every math operation its
name, docstring, identity, its rules (the kind of each operand, array input, scalar
input or output, from the catalogue's roles, in the ufunc's order; where each stands
among the runtime function's parameters; NumPy's formula where vm evaluates the
conditions; NumPy's rule for reduce) and the m form of the runtime function of each
precision, in the order s, d, c, z (NumPy picks the first loop the inputs cast to
safely). The operands' element types dispatch/loop.hpp reads off the runtime
functions' declarations, and checks their kinds against them."""

from __future__ import annotations

from catalogue.numpy_rules import EVALUATED
from catalogue.vm_interface import vm_functions
from runtime.declarations import HEADER

# NumPy's names of the identities a ufunc can have.
IDENTITIES = {None: "PyUFunc_None", 0: "PyUFunc_Zero", 1: "PyUFunc_One"}


def _c_string(text: str) -> str:
    escaped = text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
    return f'"{escaped}"'


def docstring(function) -> str:
    lines = [function.description, "", "Calls, by the dtype the inputs resolve to:"]
    for loop in function.loops:
        dtypes = loop.input_dtype
        if loop.output_dtype != loop.input_dtype:
            dtypes += f" -> {loop.output_dtype}"
        lines.append(f"    {dtypes:<24}{loop.mode_runtime_name}")
    lines += ["", "The accuracy is the calling thread's (vm.mode); vm.la, vm.ha and vm.ep offer",
              "the same ufunc in one accuracy each. Conditions the runtime meets are handled",
              "as numpy.errstate says."]
    return "\n".join(lines)


def pack_docstring(function) -> str:
    lines = [function.text_signature, "--", "", function.description, "",
             "Calls, by the dtype a casts to safely:"]
    lines += [f"    {loop.input_dtype:<24}{loop.runtime_name}" for loop in function.loops]
    lines += ["", "Arrays are taken flat, in C order. The increment, indexes and mask are",
              "copied, then checked against the arrays; the runtime reads the checked copy."]
    return "\n".join(lines)


def ufunc_operands(function):
    """A ufunc's operands, in its order, each with its position among the runtime
    function's parameters between the count and the mode: the inputs, then the outputs
    in NumPy's order (every precision's family gives the same kinds)."""
    family = function.operation.real or function.operation.complex
    placed = list(enumerate(role for _, role in family.parameters))
    inputs = [(position, role) for position, role in placed if not role.written]
    outputs = [(position, role) for position, role in placed if role.written]
    order = function.operation.output_order
    if order is not None:
        outputs = [outputs[k] for k in order]
    return inputs + outputs


def operand_kind(role) -> str:
    return "output" if role.written else "array" if role.array else "scalar"


def rules(function) -> list[str]:
    operands = ufunc_operands(function)
    operation = function.operation
    kinds = ", ".join(f"OperandKind::{operand_kind(role)}" for _, role in operands)
    order = ", ".join(str(position) for position, _ in operands)
    formula = f"formula::{operation.name}" if operation.conditions is EVALUATED else "NoFormula"
    reduction = operation.reduction.name if operation.reduction is not None else "none"
    return [f"struct {function.name}_rules {{",
            f"    static constexpr OperandKind kinds[] = {{{kinds}}};",
            f"    static constexpr std::size_t order[] = {{{order}}};",
            f"    static constexpr std::size_t outputs = {function.outputs};",
            f"    using Formula = {formula};",
            f"    static constexpr Reduction reduction = Reduction::{reduction};",
            "};"]


def ufunc_table() -> str:
    lines = [HEADER]
    operations = [f for f in vm_functions() if not f.is_pack]
    for function in operations:
        lines += rules(function)
        lines.append(f"constexpr Loop {function.name}_loops[] = {{")
        lines += [f"    loop<&runtime::{loop.mode_runtime_name}, {function.name}_rules>(),"
                  for loop in function.loops]
        lines.append("};")
    lines.append("\nconstexpr Operation operations[] = {")
    for function in operations:
        identity = IDENTITIES[function.identity]
        lines.append(f'    {{"{function.name}", {function.name}_loops, {identity},')
        lines.append(f"     {_c_string(docstring(function))}}},")
    lines.append("};\n")
    lines.append("constexpr PackDoc pack_docs[] = {")
    lines += [f'    {{"{function.name}", {_c_string(pack_docstring(function))}}},'
              for function in vm_functions() if function.is_pack]
    lines.append("};")
    return "\n".join(lines) + "\n"


def outputs() -> dict[str, str]:
    return {"dispatch/loop_table.inc": ufunc_table()}
