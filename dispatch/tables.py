"""Emits the tables the extension builds vm from.

- The loop table: for every math operation its name, docstring, identity, its rules
  (the kind of each operand, array input, scalar input or output, from the catalogue's
  roles, in the ufunc's order; where each stands among the runtime function's
  parameters; NumPy's formula where vm evaluates the conditions; NumPy's rule for
  reduce) and the m form of the runtime function of each precision, in the order s, d,
  c, z (NumPy picks the first loop the inputs cast to safely). The operands' element
  types dispatch/loop.hpp reads off the runtime functions' declarations, and checks
  their kinds against them.
- The gather and scatter table: each function's parameters with their roles, as vm
  takes them (positional, then keyword-only), its docstring, and the runtime's six
  functions of each precision.
- The element types: each precision's C++ element type, NumPy type number and letter.
"""

from __future__ import annotations

from catalogue.families import (
    PACK_INCREMENT,
    PACK_INDEXES,
    PACK_MASK,
    UNPACK_INCREMENT,
    UNPACK_INDEXES,
    UNPACK_MASK,
)
from catalogue.numpy_rules import EVALUATED, IDENTITIES
from catalogue.operations import OPERATIONS
from catalogue.precisions import PRECISIONS
from catalogue.vm_interface import vm_functions
from runtime.declarations import HEADER

# The order of the runtime's functions in a precision of dispatch/pack.cpp's table.
PACK_FAMILIES = (PACK_INCREMENT, PACK_INDEXES, PACK_MASK, UNPACK_INCREMENT, UNPACK_INDEXES,
                 UNPACK_MASK)



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
    """A ufunc's operands, in its order (every precision's family gives the same kinds)."""
    operation = function.operation
    return operation.families[0].ufunc_operands(operation.output_order)


def operand_kind(role) -> str:
    return "output" if role.written else "array" if role.array else "scalar"


def rules(function) -> list[str]:
    operands = ufunc_operands(function)
    operation = function.operation
    kinds = ", ".join(f"OperandKind::{operand_kind(o.role)}" for o in operands)
    order = ", ".join(str(o.position) for o in operands)
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
        assert len(function.aliases) <= 1, "one NumPy name per operation"
        alias = f'"{function.aliases[0]}"' if function.aliases else "nullptr"
        lines.append(f'    {{"{function.name}", {alias}, {function.name}_loops, {identity},')
        lines.append(f"     {_c_string(docstring(function))}}},")
    lines.append("};\n")
    return "\n".join(lines) + "\n"


def _element(precision) -> str:
    """The C++ element type of a precision: the runtime's records are in its namespace."""
    name = precision.element.declare()
    return f"runtime::{name}" if precision.is_complex else name


def element_types() -> str:
    """Each precision's element type, by its C++ type: NumPy's type number, the letter."""
    lines = [HEADER, "template <class T>", "struct ElementType;"]
    for precision in PRECISIONS.values():
        lines += ["template <>", f"struct ElementType<{_element(precision)}> {{",
                  f"    static constexpr char type_number = NPY_{precision.numpy_dtype.upper()};",
                  f"    static constexpr char letter = '{precision.letter}';",
                  f"    static constexpr bool is_complex = {str(precision.is_complex).lower()};",
                  f"    using Real = {precision.real.declare()};", "};"]
    return "\n".join(lines) + "\n"


def pack_table() -> str:
    lines = [HEADER]
    functions = [f for f in vm_functions() if f.is_pack]
    for function in functions:
        parameters = [*function.positional, *function.keywords]
        listed = ", ".join(f'{{"{p.name}", Role::{p.role.bridge}}}' for p in parameters)
        lines.append(f"constexpr PackParameter {function.name}_parameters[] = {{{listed}}};")
    lines.append("\nconstexpr PackSignature pack_signatures[] = {")
    for function in functions:
        lines.append(f'    {{"{function.name}", {function.name}_parameters, '
                     f"{len(function.positional)}, std::size({function.name}_parameters),")
        lines.append(f"     {_c_string(pack_docstring(function))}}},")
    lines.append("};\n")
    by_family = {operation.real: operation for operation in OPERATIONS
                 if operation.real in PACK_FAMILIES}
    lines.append("// The runtime's functions, in the order s, d, c, z: a takes the first its "
                 "dtype casts to safely.")
    lines.append("const PackPrecision pack_precisions[] = {")
    for precision in PRECISIONS.values():
        element = _element(precision)
        names = ", ".join(f"runtime::v{precision.letter}{by_family[family].name}"
                          for family in PACK_FAMILIES)
        lines.append(f"    pack_precision<{element}, {names}>(),")
    lines.append("};")
    return "\n".join(lines) + "\n"


def outputs() -> dict[str, str]:
    return {"dispatch/loop_table.inc": ufunc_table(), "dispatch/pack_table.inc": pack_table(),
            "dispatch/element_types.inc": element_types()}
