"""The installed type stubs and docstrings agree with the catalogue and the modules."""

import ast
import inspect
import pydoc
from importlib.resources import files

import numpy as np
import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue.mode_values import MODE_VALUES, STATUS_CODES
from vantrel.mkl._catalogue.vm_interface import vm_aliases, vm_functions

from arguments import Arguments
from conftest import OFFERED

VM_FUNCTIONS = vm_functions()
OPERATIONS = [f for f in VM_FUNCTIONS if not f.is_pack]
PACK_FUNCTIONS = [f for f in VM_FUNCTIONS if f.is_pack]
SERVICES = {"get_mode", "set_mode", "mode"}
ALIASES = vm_aliases()


def stub(name):
    return ast.parse((files("vantrel.mkl") / name).read_text())


def functions_of(body):
    return {node.name: node for node in body if isinstance(node, ast.FunctionDef)}


def takes_a_float(ffi, c_type):
    try:
        ffi.new(ffi.getctype(c_type, "*"), 0.5)
    except TypeError:
        return False
    return True


def written_pointers(ffi, lib, function):
    """The positions of the pointer arguments the runtime wrote in one call: each array
    that starts all zero (where Arguments puts results) is filled with a value no call
    computes from these inputs, so that every write shows."""
    arguments = Arguments(ffi, function)
    pointers = {i: a for i, a in enumerate(arguments.values)
                if isinstance(a, ffi.CData) and ffi.typeof(a).kind in ("array", "pointer")
                and a != ffi.NULL}
    for a in pointers.values():
        if not any(bytes(ffi.buffer(a))):
            ffi.buffer(a)[:] = b"\x7f" * len(ffi.buffer(a))
    before = {i: bytes(ffi.buffer(a)) for i, a in pointers.items()}
    getattr(lib, function.name)(*arguments.values)
    return {i for i, a in pointers.items() if bytes(ffi.buffer(a)) != before[i]}


def annotation_for(ffi, c_type, written):
    """What a parameter or result of this backend type is annotated with: the Python
    number its conversion takes, and for a pointer a sequence or cdata, never a
    sequence where the runtime writes (a list would lose the results)."""
    if c_type.kind == "void":
        return "None"
    if c_type.kind == "primitive":
        return "float" if takes_a_float(ffi, c_type) else "int"
    if c_type.kind == "struct":
        return "_Complex"
    if c_type.kind == "pointer" and not written:
        item = c_type.item
        if item.kind == "primitive":
            return "_RealArray" if takes_a_float(ffi, item) else "_IntPointer"
        return "_ComplexArray"
    return "_CData"  # a written array, a callback


def test_lib_stub_types_every_function_as_the_backend_converts_it(ffi, lib,
                                                                  clean_runtime_state):
    (lib_class,) = [n for n in stub("tessivec.pyi").body
                    if isinstance(n, ast.ClassDef) and n.name == "_Lib"]
    methods = functions_of(lib_class.body)
    assert set(methods) == {f.name for f in OFFERED} == set(dir(lib))
    for function in OFFERED:
        c_type = ffi.typeof(getattr(lib, function.name))
        written = written_pointers(ffi, lib, function) if function.params else set()
        args = methods[function.name].args
        declared = args.posonlyargs + args.args
        assert [a.arg for a in declared] == ["self"] + [p.name for p in function.params]
        annotations = [ast.unparse(a.annotation) for a in declared[1:]]
        assert annotations == [annotation_for(ffi, t, i in written)
                               for i, t in enumerate(c_type.args)], function.name
        assert ast.unparse(methods[function.name].returns) == annotation_for(
            ffi, c_type.result, False), function.name


UFUNC_TYPES = {(1, 1): "_UFunc_Nin1_Nout1", (2, 1): "_UFunc_Nin2_Nout1",
               (1, 2): "_UFunc_Nin1_Nout2", (6, 1): "_UFunc_Nin6_Nout1"}


def ufunc_annotation(ufunc):
    """How NumPy's own stubs type a ufunc (numpy/__init__.pyi): by its numbers of inputs
    and outputs, with its name, number of loops and identity as literals."""
    identity = "None" if ufunc.identity is None else f"L[{ufunc.identity}]"
    return (f"{UFUNC_TYPES[ufunc.nin, ufunc.nout]}[L['{ufunc.__name__}'], L[{ufunc.ntypes}], "
            f"{identity}]")


def annotations_of(body):
    return {n.target.id: ast.unparse(n.annotation) for n in body if isinstance(n, ast.AnnAssign)}


def test_vm_stub_matches_the_module():
    tree = stub("vm.pyi")
    functions = functions_of(tree.body)
    annotated = annotations_of(tree.body)
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    assert set(functions) == {f.name for f in PACK_FUNCTIONS} | SERVICES
    ufuncs = {name for name, annotation in annotated.items() if annotation.startswith("_UFunc")}
    assert ufuncs == {f.name for f in OPERATIONS} | set(ALIASES)
    for name in ufuncs:
        assert annotated[name] == ufunc_annotation(getattr(vm, name)), name
    assert {name for name, annotation in annotated.items() if annotation == "int"} == (
        set(MODE_VALUES) | set(STATUS_CODES))
    for accuracy in ("la", "ha", "ep"):
        assert annotated[accuracy] == f"_{accuracy.upper()}"
        members = annotations_of(classes[annotated[accuracy]].body)
        assert set(members) == ufuncs
        namespace = getattr(vm, accuracy)
        for name, annotation in members.items():
            assert annotation == ufunc_annotation(getattr(namespace, name)), (accuracy, name)
    assert set(vm.__all__) == set(functions) | set(annotated)
    for name, value in {**MODE_VALUES, **STATUS_CODES}.items():
        assert getattr(vm, name) == value


@pytest.mark.parametrize("function", OPERATIONS, ids=lambda f: f.name)
def test_every_operation_is_a_ufunc_with_the_catalogues_operands(function):
    inputs = len(function.positional)
    accuracies = {accuracy: getattr(getattr(vm, accuracy), function.name)
                  for accuracy in ("la", "ha", "ep")}
    # Four ufuncs of their own: the thread's accuracy's, and one fixed in each accuracy.
    assert len({id(u) for u in (getattr(vm, function.name), *accuracies.values())}) == 4
    assert [u.__name__ for u in accuracies.values()] == [f"{a}.{function.name}"
                                                         for a in accuracies]
    for ufunc in (getattr(vm, function.name), *accuracies.values()):
        assert isinstance(ufunc, np.ufunc)
        assert (ufunc.nin, ufunc.nout) == (inputs, function.outputs)
        assert [t.split("->")[0][:1] for t in ufunc.types] == [
            np.dtype(loop.input_dtype).char for loop in function.loops]
        assert [t.split("->")[1][:1] for t in ufunc.types] == [
            np.dtype(loop.output_dtype).char for loop in function.loops]


def scattered(a, out, positions):
    out[positions] = a
    return out


A = np.arange(10.0)
MASK = np.array([1, 0, 2, 0, 0, -1, 0, 0, 1, 0])
# For each gather and scatter: fresh values for its parameters by name, and what NumPy's
# indexing makes of them.
PACK_CALLS = {
    "packi": (lambda: {"a": A, "incr": 3, "n": 2, "out": np.empty(2)},
              lambda v: v["a"][::v["incr"]][:v["n"]]),
    "packv": (lambda: {"a": A, "index": [7, 0, 3], "out": np.empty(3)},
              lambda v: v["a"][v["index"]]),
    "packm": (lambda: {"a": A, "mask": MASK, "out": np.empty(4)},
              lambda v: v["a"][v["mask"] != 0]),
    "unpacki": (lambda: {"a": A[:4], "incr": 3, "out": np.zeros(12)},
                lambda v: scattered(v["a"], np.zeros(12), slice(None, None, v["incr"]))),
    "unpackv": (lambda: {"a": A[:3], "index": [9, 0, 4], "out": np.zeros(10)},
                lambda v: scattered(v["a"], np.zeros(10), v["index"])),
    "unpackm": (lambda: {"a": A[:4], "mask": MASK, "out": np.zeros(10)},
                lambda v: scattered(v["a"], np.zeros(10), MASK != 0)),
}


@pytest.mark.parametrize("function", PACK_FUNCTIONS, ids=lambda f: f.name)
def test_pack_functions_take_their_arguments_as_the_stub_declares(function):
    """The stub read against vm's own argument parsing: called as the stub says, each
    function computes what its parameters' names mean; a positional-only parameter
    given by keyword, a keyword-only one given by position, a missing or an unknown
    one are refused. help() shows the stub's signature."""
    # Its overloads (a result array given, or made) take the same parameters; in one of
    # them every keyword is optional.
    overloads = [n.args for n in stub("vm.pyi").body
                 if isinstance(n, ast.FunctionDef) and n.name == function.name]
    declared = overloads[0]
    assert declared.args == [] and declared.vararg is None and declared.kwarg is None
    positional = [a.arg for a in declared.posonlyargs]
    keywords = [a.arg for a in declared.kwonlyargs]
    assert all([a.arg for a in o.posonlyargs] == positional and o.args == [] and
               [a.arg for a in o.kwonlyargs] == keywords for o in overloads)
    assert any(all(d is not None and ast.unparse(d) == "None" for d in o.kw_defaults)
               for o in overloads), "keywords are optional"
    values, expected = PACK_CALLS[function.name]
    assert set(positional + keywords) == set(values()), "the stub's names are the call's"
    call = getattr(vm, function.name)
    v = values()
    assert np.array_equal(call(*[v[n] for n in positional]), expected(v))
    v = values()
    result = call(*[v[n] for n in positional], **{n: v[n] for n in keywords})
    assert np.array_equal(result, expected(v))
    for name in keywords:
        assert result is v[name]
    for name in positional:
        v = values()
        with pytest.raises(TypeError):  # by keyword
            call(*[v[n] for n in positional if n != name], **{name: v[name]})
    v = values()
    with pytest.raises(TypeError):  # one too few
        call(*[v[n] for n in positional[:-1]])
    for name in keywords:
        with pytest.raises(TypeError):  # by position
            call(*[v[n] for n in positional], v[name])
    with pytest.raises(TypeError, match="unexpected keyword argument 'undeclared'"):
        call(*[v[n] for n in positional], undeclared=None)
    shown = inspect.signature(call).parameters.values()
    Parameter = inspect.Parameter
    assert [(p.name, p.kind, p.default) for p in shown] == (
        [(n, Parameter.POSITIONAL_ONLY, Parameter.empty) for n in positional]
        + [(n, Parameter.KEYWORD_ONLY, None) for n in keywords])


@pytest.mark.parametrize("function", VM_FUNCTIONS, ids=lambda f: f.name)
def test_docstrings_say_what_is_computed_and_which_runtime_functions_are_called(function):
    vm_function = getattr(vm, function.name)
    doc = vm_function.__doc__
    assert function.description in doc
    for loop in function.loops:
        assert (loop.mode_runtime_name or loop.runtime_name) in doc
    if function.is_pack:
        assert function.text_signature in pydoc.render_doc(vm_function,
                                                           renderer=pydoc.plaintext)
