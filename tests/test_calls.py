"""Every offered math function, called through lib against the real runtime (the service
functions: test_services.py)."""

import pytest
from vantrel.mkl._catalogue.functions import spell

from arguments import Arguments
from conftest import BY_NAME, MIXED_NAMES

MATH_NAMES = [n for n in MIXED_NAMES if not n.startswith("vml")]


@pytest.mark.parametrize("mixed", MATH_NAMES)
def test_three_spellings_give_identical_results(ffi, lib, mixed):
    results = []
    for spelling in ("value", "lower", "upper"):
        function = BY_NAME[spell(mixed, spelling)]
        arguments = Arguments(ffi, function)
        assert getattr(lib, function.name)(*arguments.values) is None
        results.append(arguments.output_bytes(ffi))
    assert results[0] == results[1] == results[2]
    assert any(any(b) for b in results[0]), "the runtime wrote nothing"


def test_direct_call_entries(ffi, lib, clean_runtime_state):
    a = ffi.new("MKL_Complex16[]", [(1.0, 1.0), (2.0, 0.0)])
    exponent = ffi.new("MKL_Complex16 *", (2.0, 0.0))
    through_wrapper, direct = ffi.new("MKL_Complex16[2]"), ffi.new("MKL_Complex16[2]")
    lib.vzPowx(2, a, exponent[0], through_wrapper)
    ffi.addressof(lib, "vzPowx")(2, a, exponent[0], direct)
    assert ffi.buffer(direct)[:] == ffi.buffer(through_wrapper)[:]
    assert (direct[1].real, direct[1].imag) == (4.0, 0.0)
    x, r = ffi.new("double[]", [1.0, 2.0]), ffi.new("double[2]")
    ffi.addressof(lib, "vdAdd")(2, x, x, r)
    assert list(r) == [2.0, 4.0]
    assert ffi.addressof(lib, "vmlGetMode")() == lib.vmlGetMode()
    expected = ffi.new("double[2]")
    lib.vdSqrt(2, x, expected)
    ffi.addressof(lib, "VDSQRT")(ffi.new("int *", 2), x, r)
    assert list(r) == list(expected)
