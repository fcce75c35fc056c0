"""The module works only with the runtime's 32-bit integer interface, and says so."""

import subprocess
import sys

import pytest

CALL = """
from vantrel.mkl.tessivec import ffi, lib
r = ffi.new("double[2]")
lib.vdexp([2], [0.0, 1.0], r)
print(list(r))
"""

CHOSEN_EARLIER = """
import ctypes, sys
ctypes.CDLL(sys.prefix + "/lib/libmkl_rt.so.3").MKL_Set_Interface_Layer(1)
""" + CALL


def run(code, layer):
    env = {k: v for k, v in __import__("os").environ.items() if k != "MKL_INTERFACE_LAYER"}
    if layer is not None:
        env["MKL_INTERFACE_LAYER"] = layer
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env)


@pytest.mark.parametrize("layer", [None, "LP64", "lp64", "GNU,LP64", "GNU"])
def test_the_32bit_interface_works(layer):
    result = run(CALL, layer)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "[1.0, 2.718281828459045]"


IMPORT = """
try:
    import vantrel.mkl.tessivec
except ImportError as error:
    print(error)
"""


@pytest.mark.parametrize("layer", ["ILP64", "ilp64", "GNU,ILP64"])
def test_the_64bit_interface_is_refused_at_import(layer):
    result = run(IMPORT, layer)
    assert result.returncode == 0, result.stderr
    assert "vantrel.mkl.tessivec passes 32-bit integers" in result.stdout
    assert f"MKL_INTERFACE_LAYER={layer} selects its 64-bit integer interface" in result.stdout


def test_a_64bit_interface_chosen_earlier_is_refused():
    result = run(CHOSEN_EARLIER, None)
    assert result.returncode == 1
    assert "already uses its 64-bit integer interface" in result.stderr
