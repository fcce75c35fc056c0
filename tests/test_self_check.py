"""python -m vantrel.mkl shows a working package and fails on a wrong result."""

import subprocess
import sys

import numpy as np
from vantrel.mkl import __main__ as self_check
from vantrel.mkl import vm


def test_the_self_check_passes_and_says_where_the_runtime_is():
    run = subprocess.run([sys.executable, "-m", "vantrel.mkl"], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "libmkl_rt.so" in run.stdout
    assert "mode:     0x1a02 (accuracy HA, error mode ERRNO|EXCEPT|CALLBACK)" in run.stdout
    assert "WRONG" not in run.stdout and "ns" in run.stdout


def test_the_self_check_fails_on_a_wrong_result(monkeypatch, capsys):
    monkeypatch.setattr(vm, "exp", lambda x: np.asarray(x) + 1.0)
    assert self_check.main() == 1
    assert "WRONG     vm.exp float64" in capsys.readouterr().out
