"""The installed type stubs and docstrings agree with the catalogue and the modules."""

import ast
import inspect
import pydoc
from importlib.resources import files

import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue.mode_values import MODE_VALUES, STATUS_CODES
from vantrel.mkl._catalogue.vm_interface import vm_functions

from conftest import OFFERED

VM_FUNCTIONS = vm_functions()
SERVICES = {"get_mode", "set_mode", "mode", "geterr"}


def stub(name):
    return ast.parse((files("vantrel.mkl") / name).read_text())


def functions_of(body):
    return {node.name: node for node in body if isinstance(node, ast.FunctionDef)}


def test_the_package_is_marked_typed():
    assert (files("vantrel.mkl") / "py.typed").is_file()


def test_lib_stub_declares_every_offered_function_as_the_catalogue_does(lib):
    (lib_class,) = [n for n in stub("tessivec.pyi").body
                    if isinstance(n, ast.ClassDef) and n.name == "_Lib"]
    methods = functions_of(lib_class.body)
    assert set(methods) == {f.name for f in OFFERED} == set(dir(lib))
    for function in OFFERED:
        args = methods[function.name].args
        declared = args.posonlyargs + args.args
        assert [a.arg for a in declared] == ["self"] + [p.name for p in function.params]
        for parameter, arg in zip(function.params, declared[1:]):
            spelling, annotation = parameter.c_type.spelling, ast.unparse(arg.annotation)
            if "*" in spelling:  # arrays, pointers and the callback: cdata or sequences
                assert annotation.startswith("_"), (function.name, parameter.name)
            else:
                assert annotation == ("int" if "int" in spelling or "long" in spelling else
                                      "float" if spelling in ("float", "double") else
                                      "_Complex"), (function.name, parameter.name)
        result = ast.unparse(methods[function.name].returns)
        assert result == {"void": "None", "int": "int", "unsigned int": "int"}.get(
            function.result.spelling, "_CData")


def test_vm_stub_matches_the_module():
    tree = stub("vm.pyi")
    functions = functions_of(tree.body)
    constants = {n.target.id for n in tree.body if isinstance(n, ast.AnnAssign)}
    classes = {n.name for n in tree.body if isinstance(n, ast.ClassDef)}
    assert set(functions) == {f.name for f in VM_FUNCTIONS} | SERVICES
    assert constants == set(MODE_VALUES) | set(STATUS_CODES)
    assert set(vm.__all__) == set(functions) | constants | classes
    for name, value in {**MODE_VALUES, **STATUS_CODES}.items():
        assert getattr(vm, name) == value


@pytest.mark.parametrize("function", VM_FUNCTIONS, ids=lambda f: f.name)
def test_vm_signatures_agree_with_the_stub(function):
    declared = functions_of(stub("vm.pyi").body)[function.name].args
    signature = inspect.signature(getattr(vm, function.name))
    kinds = {name: p.kind for name, p in signature.parameters.items()}
    assert [a.arg for a in declared.posonlyargs] == [p.name for p in function.positional]
    assert [a.arg for a in declared.kwonlyargs] == [p.name for p in function.keywords]
    assert list(kinds) == [p.name for p in function.positional + function.keywords]
    assert {kinds[p.name] for p in function.positional} == {inspect.Parameter.POSITIONAL_ONLY}
    assert {kinds[p.name] for p in function.keywords} <= {inspect.Parameter.KEYWORD_ONLY}


@pytest.mark.parametrize("function", VM_FUNCTIONS, ids=lambda f: f.name)
def test_docstrings_say_what_is_computed_and_which_runtime_functions_are_called(function):
    vm_function = getattr(vm, function.name)
    doc = vm_function.__doc__
    assert doc.startswith(function.description)
    for loop in function.loops:
        assert loop.runtime_name in doc
        assert loop.mode_runtime_name is None or loop.mode_runtime_name in doc
    assert function.text_signature in pydoc.render_doc(vm_function, renderer=pydoc.plaintext)
