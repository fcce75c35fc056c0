"""A Python integer beyond the double range, given for a real scalar, is an
OverflowError in vm as it is in lib."""

import numpy as np
import pytest

HUGE = [10**400, -10**400]


@pytest.mark.parametrize("value", HUGE, ids=["10**400", "-10**400"])
@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_a_huge_integer_scalar_overflows_in_both_layers(ffi, lib, value, dtype):
    from vantrel.mkl import vm
    x = np.linspace(0.5, 1.0, 3, dtype=dtype)
    with pytest.raises(OverflowError):
        vm.powx(x, value)
    with pytest.raises(OverflowError):
        vm.linearfrac(x, x, 1.0, value, 0.0, 1.0)
    letter = "s" if dtype == np.float32 else "d"
    a = ffi.from_buffer(f"{'float' if letter == 's' else 'double'}[]", x)
    with pytest.raises(OverflowError):
        getattr(lib, f"v{letter}Powx")(3, a, value, ffi.new("double[3]") if letter == "d"
                                       else ffi.new("float[3]"))

