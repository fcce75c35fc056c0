"""The names the catalogue generates: exactly the grammar's set, in three spellings."""

from collections import Counter

import pytest
from vantrel.mkl._catalogue.operations import OPERATIONS

from conftest import BY_NAME, MIXED_NAMES, OFFERED


def test_counts_per_prefix_and_letter():
    counts = Counter()
    for name in MIXED_NAMES:
        if name.startswith("vml"):
            counts["vml"] += 1
        else:
            prefix = "vm" if BY_NAME[name].with_mode else "v"
            counts[prefix, BY_NAME[name].letter] += 1
    assert counts == {("v", "s"): 58, ("v", "d"): 58, ("v", "c"): 33, ("v", "z"): 33,
                      ("vm", "s"): 52, ("vm", "d"): 52, ("vm", "c"): 27, ("vm", "z"): 27,
                      "vml": 8}
    assert len(OFFERED) == 1044 == 3 * len(MIXED_NAMES)


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
    assert set(descriptions) == {f.base for f in OFFERED if f.base is not None}
    assert all("\n" not in text for text in descriptions.values())
