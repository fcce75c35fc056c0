"""A mode's accuracy field picks the kernel the runtime runs: only 0, LA, HA and EP are
defined, and any other value is refused before the runtime runs, in every m form and
in the mode setter. The other fields pass as they are."""

import pytest
from vantrel.mkl._catalogue.roles import MODE

from arguments import Arguments
from conftest import OFFERED
from runtime_values import (
    ACCURACY_MASK,
    DEFINED_ACCURACIES,
    ERRMODE_CALLBACK,
    ERRMODE_ERRNO,
    ERRMODE_IGNORE,
    FTZDAZ_OFF,
    FTZDAZ_ON,
    HA,
)
from threads import on_a_thread_of_its_own

FLAGS = [0, FTZDAZ_ON | ERRMODE_ERRNO, FTZDAZ_OFF | ERRMODE_IGNORE | ERRMODE_CALLBACK]
ACCURACIES = range(ACCURACY_MASK + 1)
# One m form of each family, precision and spelling.
M_FORMS = list({(f.family.name, f.letter, f.spelling): f for f in OFFERED if f.with_mode}.values())
MODE_SETTERS = ["vmlSetMode", "vmlsetmode", "VMLSETMODE"]


def refused(name, mode):
    return (f"^{name}: mode {mode:#x} has accuracy field {mode & ACCURACY_MASK}, which the "
            "runtime does not")


@pytest.mark.parametrize("function", M_FORMS, ids=lambda f: f.name)
def test_m_forms_refuse_undefined_accuracies(ffi, lib, function):
    call = getattr(lib, function.name)
    position = next(i for i, p in enumerate(function.params) if p.role is MODE)

    def mode_argument(mode):
        return ffi.new("long long *", mode) if function.by_reference else mode

    def body():  # an m form leaves its FTZDAZ field in the thread's mode
        for flags in FLAGS:
            for accuracy in ACCURACIES:
                mode = flags | accuracy
                arguments = Arguments(ffi, function)
                values = list(arguments.values)
                values[position] = mode_argument(mode)
                before = arguments.output_bytes(ffi)
                if accuracy in DEFINED_ACCURACIES:
                    call(*values)
                    assert arguments.output_bytes(ffi) != before
                else:
                    with pytest.raises(ValueError, match=refused(function.name, mode)):
                        call(*values)
                    assert arguments.output_bytes(ffi) == before
        values[position] = mode_argument(-1)
        with pytest.raises(ValueError, match=refused(function.name, 2**64 - 1)):
            call(*values)

    on_a_thread_of_its_own(body)


@pytest.mark.parametrize("name", MODE_SETTERS)
def test_the_mode_setter_refuses_undefined_accuracies(ffi, lib, name):
    by_reference = name != "vmlSetMode"

    def body():
        lib.vmlSetMode(HA)
        for flags in FLAGS:
            for accuracy in ACCURACIES:
                mode = flags | accuracy
                before = lib.vmlGetMode()
                argument = ffi.new("unsigned int *", mode) if by_reference else mode
                if accuracy in DEFINED_ACCURACIES:
                    assert getattr(lib, name)(argument) == before
                    assert lib.vmlGetMode() & ACCURACY_MASK == (accuracy or before & ACCURACY_MASK)
                else:
                    with pytest.raises(ValueError, match=refused(name, mode)):
                        getattr(lib, name)(argument)
                    assert lib.vmlGetMode() == before

    on_a_thread_of_its_own(body)

