"""The names the catalogue generates: exactly the grammar's set, in three spellings."""

import ctypes

import pytest
from vantrel.mkl._catalogue.functions import PRECISIONS
from vantrel.mkl._catalogue.operations import OPERATIONS

from conftest import BY_NAME, MIXED_NAMES, OFFERED


@pytest.fixture(scope="module")
def runtime_exports(lib):
    """Whether the runtime the module loaded exports a symbol."""
    runtime = ctypes.CDLL("libmkl_rt.so.3")  # the library already loaded, by its soname

    def exported(symbol):
        return hasattr(runtime, symbol)
    return exported


def test_the_runtime_exports_every_offered_function_in_its_spelling(runtime_exports):
    assert [f.runtime_symbol for f in OFFERED if not runtime_exports(f.runtime_symbol)] == []
    assert len(OFFERED) == 3 * len(MIXED_NAMES)  # every function in its three spellings


def test_every_precision_the_runtime_has_of_a_base_name_is_offered(runtime_exports):
    """Of each offered base name, with and without the mode where the catalogue offers
    that form at all, the runtime's precisions are exactly the offered ones."""
    offered = set(MIXED_NAMES)
    forms = {(f.base, f.with_mode) for f in OFFERED if f.base is not None}
    candidates = {("vm" if with_mode else "v") + letter + base
                  for base, with_mode in forms for letter in PRECISIONS}
    assert {n for n in candidates if runtime_exports(n)} == candidates & offered


@pytest.mark.parametrize("mixed, lower, upper", [
    ("vcCIS", "vccis", "VCCIS"), ("vsLGamma", "vslgamma", "VSLGAMMA"),
    ("vsPow2o3", "vspow2o3", "VSPOW2O3"), ("vdLog10", "vdlog10", "VDLOG10"),
    ("vmlSetErrorCallBack", "vmlseterrorcallback", "VMLSETERRORCALLBACK"),
    ("vmlClearErrStatus", "vmlclearerrstatus", "VMLCLEARERRSTATUS"),
])
def test_three_spellings(mixed, lower, upper):
    assert {BY_NAME[n].mixed_name for n in (mixed, lower, upper)} == {mixed}
    assert [BY_NAME[n].spelling for n in (mixed, lower, upper)] == ["value", "lower", "upper"]


@pytest.mark.parametrize("absent", ["vmsPackI", "vmzUnpackV", "vcAtan2", "vzErfInv", "vsConj",
                                    "vdCIS", "vmlSetErrorCallback", "vsCis", "vsPow2O3"])
def test_names_outside_the_grammar_do_not_exist(absent):
    assert absent not in BY_NAME


def test_by_value_and_by_reference_parameters():
    assert [p.c_type.spelling for p in BY_NAME["vmsLinearFrac"].params] == [
        "int", "float const *", "float const *", "float", "float", "float", "float", "float *",
        "long long"]
    assert [p.c_type.spelling for p in BY_NAME["VMSLINEARFRAC"].params] == [
        "int *"] + ["float const *"] * 6 + ["float *", "long long *"]
    assert [p.c_type.spelling for p in BY_NAME["vzPowx"].params] == [
        "int", "MKL_Complex16 const *", "MKL_Complex16", "MKL_Complex16 *"]
    assert [p.c_type.spelling for p in BY_NAME["vspacki"].params] == [
        "int *", "float const *", "int *", "float *"]
    # The callback travels by value in every spelling.
    assert {BY_NAME[n].params[0].c_type.spelling
            for n in ("vmlSetErrorCallBack", "vmlseterrorcallback")} == {
        "int(*)(DefVmlErrorContext *)"}


def test_runtime_symbols_follow_the_platform_convention():
    assert BY_NAME["vsAdd"].runtime_symbol == "vsAdd"
    assert BY_NAME["vsadd"].runtime_symbol == "vsadd_"
    assert BY_NAME["VSADD"].runtime_symbol == "VSADD_"


def test_every_base_name_has_its_one_line_description():
    descriptions = {operation.name: operation.description for operation in OPERATIONS}
    assert {name for name, o in zip(descriptions, OPERATIONS) if o.in_lib} == \
        {f.base for f in OFFERED if f.base is not None}
    assert all("\n" not in text for text in descriptions.values())
