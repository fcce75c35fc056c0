"""The catalogue's validation pass: a record that does not fit is reported as what to
change where, before the generator emits anything."""

import pytest
from vantrel.mkl._catalogue import families, validation
from vantrel.mkl._catalogue.operations import OPERATIONS, Operation
from vantrel.mkl._catalogue.roles import INPUT, OUTPUT

UNREACHED = families.Family("unreached", (("a", INPUT), ("r", OUTPUT)), None, "elementwise")
UNMEASURED = families.Family("unmeasured", (("a", INPUT), ("incra", families.INCREMENT),
                                            ("y", OUTPUT)), families.STRIDED, "pack_increment",
                             families.PACK_INCREMENT.vm_parameters)
STRING_ROLES = families.Family("string_roles", (("a", "input"), ("r", OUTPUT)),
                               families.ELEMENTWISE, "elementwise")


@pytest.mark.parametrize("record, expected", [
    (Operation("Cube", "", real=families.ONE_INPUT), "'Cube' (catalogue/operations.py) has no "
                                                     "one-line description"),
    (Operation("Cube", "Cube a**3.\nTwo lines."), "has no one-line description"),
    (Operation("Cube", "Cube a**3."), "'Cube' (catalogue/operations.py) has no family"),
    (Operation("Exp", "Again.", real=families.ONE_INPUT), "two operations are 'Exp'"),
    (Operation("cube", "Cube a**3.", real=families.ONE_INPUT), "starts with a capital"),
    (Operation("Cube", "Cube a**3.", real=UNREACHED), "'unreached' (catalogue/families.py) has "
                                                      "no reach rule"),
    (Operation("Cube", "Cube a**3.", real=STRING_ROLES), "has role 'input', which is not a Role"),
    (Operation("Cube", "Cube a**3.", real=families.ONE_INPUT, complex=families.TWO_INPUT),
     "operands of both its families, which differ"),
    (Operation("Cube", "Cube a**3.", real=families.ONE_INPUT, identity=0),
     "only an operation of two inputs has an identity"),
    (Operation("Gather", "Gathers.", real=families.PACK_MASK), "set mode_forms=False"),
    (Operation("Gather", "Gathers.", real=UNMEASURED, mode_forms=False),
     "reached= must name the array its reach rule 'strided' measures"),
    # vm.log can be one ufunc only; rint, a vm name already, may be claimed again.
    (Operation("Cube", "Cube a**3.", real=families.ONE_INPUT, counterpart="log"),
     "both name NumPy's 'log' as their counterpart"),
    (Operation("Cube", "Cube a**3.", real=families.ONE_INPUT, counterpart="numpy cube"),
     "is neither NumPy's name of a function"),
    (Operation("Cube", "Cube a**3.", real=families.ONE_INPUT,
               numpy_difference="Not one\nline."), "numpy_difference= is one line"),
    (Operation("Gather", "Gathers.", real=families.PACK_MASK, mode_forms=False,
               counterpart="compress"), "a gather or scatter function is none"),
])
def test_a_record_that_does_not_fit_is_named_with_the_fix(monkeypatch, record, expected):
    assert validation.problems() == []  # so that every problem below is the record's
    monkeypatch.setattr(validation, "OPERATIONS", OPERATIONS + (record,))
    with pytest.raises(validation.CatalogueError, match="inconsistent") as raised:
        validation.validate()
    problems = raised.value.problems
    assert any(expected in problem for problem in problems), problems
    # Each names the record or its family: a maintainer is sent to the record at fault.
    names = {f"'{record.name}'", f"'{record.name.lower()}'",
             *(f"'{family.name}'" for family in record.families)}
    assert all(any(name in problem for name in names) for problem in problems), problems


def test_a_role_or_family_compared_with_a_string_fails_loudly():
    # Their names of earlier versions compared as strings would be quietly unequal.
    with pytest.raises(TypeError, match="compared with the string"):
        INPUT in ("input", "output")
    with pytest.raises(TypeError, match="compared with the string"):
        families.SERVICE in {"service"}


def test_a_changed_number_of_functions_is_named_with_the_fix(monkeypatch):
    monkeypatch.setattr(validation, "OFFERED_COUNT", validation.OFFERED_COUNT - 1)
    with pytest.raises(validation.CatalogueError) as raised:
        validation.validate()
    assert any("OFFERED_COUNT" in problem and "catalogue/functions.py" in problem
               for problem in raised.value.problems)
