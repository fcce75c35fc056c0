"""The documentation's reference is written from the installed catalogue: every vm
function gets its page with its runtime functions and bounds, and what later catalogue
records may carry (a NumPy name, a difference, special values, an alias) shows on the
page without an edit of the generator."""

import dataclasses
import importlib.util
import types
from pathlib import Path

import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue import accuracy_bounds

GENERATOR = Path(__file__).resolve().parents[1] / "docs" / "_ext" / "vm_reference.py"
if not GENERATOR.is_file():
    pytest.skip("the tests run outside a source tree", allow_module_level=True)
spec = importlib.util.spec_from_file_location("vm_reference", GENERATOR)
vm_reference = importlib.util.module_from_spec(spec)
spec.loader.exec_module(vm_reference)


@pytest.fixture(scope="module")
def catalogue():
    return vm_reference.Catalogue()


def by_name(catalogue, name):
    return next(f for f in catalogue.functions if f.name == name)


def test_every_vm_function_has_a_page_with_its_runtime_functions_and_bounds(catalogue):
    # Each ufunc and function vm offers is on a page, under its name or as an alias.
    documented = {id(getattr(vm, f.name)) for f in catalogue.functions}
    offered = [n for n in vm.__all__ if callable(getattr(vm, n))
               and n not in ("get_mode", "set_mode", "mode")]
    assert offered and all(id(getattr(vm, n)) in documented for n in offered)
    for function in catalogue.functions:
        page = vm_reference.function_page(catalogue, function)
        assert page.startswith(vm_reference.NOTE)
        assert vm_reference.escape(function.description) in page
        for loop in function.loops:
            assert f"``{loop.runtime_name}``" in page
        if not function.is_pack:
            for accuracy in accuracy_bounds.ACCURACIES:
                bound = accuracy_bounds.bound(function.base, function.loops[0].letter, accuracy)
                assert vm_reference.bound_text(bound) in page, (function.name, accuracy)


def test_text_reaches_the_page_as_written():
    assert vm_reference.escape("|a| * b**2 and a_") == r"\|a\| \* b\*\*2 and a\_"


class Extended:
    """An operation record with the attributes later records may have."""

    def __init__(self, operation, **extra):
        self.__dict__.update(extra, _operation=operation)

    def __getattr__(self, name):
        return getattr(self._operation, name)


def test_what_later_records_carry_shows_on_the_page(catalogue):
    ln = by_name(catalogue, "ln")
    extended = dataclasses.replace(ln, operation=Extended(
        ln.operation, numpy_name="log", scipy_name="scipy.special.logit",
        numpy_difference="none in this test"))
    page = vm_reference.function_page(catalogue, extended)
    assert "``numpy.log`` (named by the catalogue)" in page
    assert "``scipy.special.logit`` (named by the catalogue)" in page
    assert "Where it differs: none in this test" in page
    assert "``numpy.log``" in page.split("Special values")[1]  # a column of NumPy's values
    known = dataclasses.replace(ln, operation=Extended(ln.operation, special_values={1.0: 0.0}))
    assert "``1.0``" in vm_reference.function_page(catalogue, known).split("Special values")[1]


def test_another_vm_name_of_the_same_ufunc_shows_as_an_alias(catalogue):
    ln = by_name(catalogue, "ln")
    assert "Also named ``vm.log`` (the same object)." in vm_reference.function_page(catalogue, ln)
    names = {name: getattr(vm, name) for name in vm.__all__}
    stand_in = types.SimpleNamespace(**names, natural_log=vm.ln,
                                     __all__=[*vm.__all__, "natural_log"])
    aliased = vm_reference.Catalogue.__new__(vm_reference.Catalogue)
    aliased.__dict__.update(catalogue.__dict__, vm=stand_in)
    page = vm_reference.function_page(aliased, ln)
    assert "Also named ``vm.log``, ``vm.natural_log`` (the same object)." in page


def test_the_readmes_table_of_numpy_names_is_the_catalogues(catalogue):
    readme = vm_reference.README.read_text()
    assert vm_reference.with_numpy_names(readme, catalogue.functions) == readme, (
        "README.md's table of NumPy's names is out of date: run "
        "python docs/_ext/vm_reference.py")


def test_the_table_of_numpy_names_has_each_ufunc_with_its_aliases_and_differences(catalogue):
    ufuncs = [f for f in catalogue.functions if not f.is_pack]
    table = vm_reference.numpy_names_markdown(catalogue.functions).splitlines()
    assert len(table) == 2 + len(ufuncs)
    fragment = vm_reference.numpy_names_fragment(catalogue)
    for function, row in zip(ufuncs, table[2:]):
        cells = [cell.strip() for cell in row.strip("|").split(" | ")]
        assert cells[0] == ", ".join(f"`vm.{n}`" for n in (function.name, *function.aliases))
        operation = function.operation
        counterpart, difference = operation.counterpart, operation.numpy_difference
        assert cells[1] == (f"`{vm_reference.dotted(counterpart)}`" if counterpart else "none")
        assert cells[2] == vm_reference.markdown(difference or "")
        for name in function.aliases:
            assert getattr(vm, name) is getattr(vm, function.name)
            assert f"``vm.{name}``" in fragment
        if difference:
            assert vm_reference.escape(difference) in fragment
    # A name that NumPy gives another meaning is listed with its difference, never bound.
    (round_row,) = [row for row in table if row.startswith("| `vm.round` |")]
    assert "| none | numpy.round and numpy.rint round halfway cases to even" in round_row
