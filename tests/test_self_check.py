"""python -m vantrel.mkl shows a working package and what it runs on, warns about the
runtime's generic kernels, and fails on a wrong result or a dependency missing."""

import subprocess
import sys
from importlib.metadata import version

import numpy as np
import pytest
from vantrel.mkl import __main__ as self_check
from vantrel.mkl import vm


def test_the_self_check_passes_and_says_where_the_runtime_is():
    run = subprocess.run([sys.executable, "-m", "vantrel.mkl"], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "libmkl_rt.so" in run.stdout
    default = vm.HA | vm.ERRMODE_DEFAULT  # a new thread's mode
    assert f"mode:     {default:#x} (accuracy HA, error mode ERRNO|EXCEPT|CALLBACK)" in run.stdout
    assert "WRONG" not in run.stdout and "ns" in run.stdout


def test_the_self_check_names_versions_cpu_kernels_and_threads():
    run = subprocess.run([sys.executable, "-m", "vantrel.mkl"], capture_output=True, text=True)
    lines = dict(line.split(":", 1) for line in run.stdout.splitlines()
                 if line[:9].rstrip().endswith(":"))
    assert f"vantrel-mkl {version('vantrel-mkl')} on Python" in lines["package"]
    assert "Math Kernel Library Version 20" in lines["runtime"]
    assert lines["cpu"].strip() != ""
    assert "libmkl_vml_" in lines["kernels"]
    assert int(lines["threads"].split()[0]) >= 1


@pytest.mark.parametrize("variable", [None, "MKL_CBWR", "MKL_ENABLE_INSTRUCTIONS"])
def test_the_generic_kernels_are_named_with_what_they_cost(monkeypatch, capsys, variable):
    monkeypatch.setattr(self_check, "kernel_libraries", lambda: ["libmkl_vml_def.so.3"])
    for name in self_check.CODE_PATH_VARIABLES:
        monkeypatch.delenv(name, raising=False)
    if variable is not None:
        monkeypatch.setenv(variable, "COMPATIBLE")
    assert self_check.main() == 0
    out = capsys.readouterr().out
    assert "WARNING   the runtime runs its generic kernels (libmkl_vml_def.so.3)" in out
    assert "no effect" in out and "complex" in out
    if variable is None:
        assert "runtime's own choice" in out
    else:
        assert f"The environment chooses them ({variable}=COMPATIBLE)" in out
        assert "own choice" not in out


@pytest.mark.parametrize("missing", [["numpy"], ["cffi", "_cffi_backend"]],
                         ids=["numpy", "cffi"])
def test_a_missing_dependency_is_reported_without_a_traceback(missing):
    blocked = (f"import sys, runpy; sys.modules.update(dict.fromkeys({missing!r})); "
               "runpy.run_module('vantrel.mkl', run_name='__main__')")
    run = subprocess.run([sys.executable, "-c", blocked], capture_output=True, text=True)
    assert run.returncode == 1
    assert "does not load" in run.stdout and "Traceback" not in run.stderr


def test_the_self_check_fails_on_a_wrong_result(monkeypatch, capsys):
    monkeypatch.setattr(vm, "exp", lambda x: np.asarray(x) + 1.0)
    assert self_check.main() == 1
    assert "WRONG     vm.exp float64" in capsys.readouterr().out
