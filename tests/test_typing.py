"""mypy --strict types a user's vm results as arrays, as it types NumPy's own ufuncs'
results: with the installed package, and with an editable install of the source tree,
whose Python files the type checker reads from src/."""

from __future__ import annotations

import importlib.util
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from importlib import metadata
from pathlib import Path

import numpy as np
import pytest

HERE = Path(__file__).resolve().parent
SCRIPT = HERE / "typing" / "user_script.py"
SOURCE_TREE = HERE.parent
# A result mypy took for Any would be returned as an int without complaint.
UNTYPED_IF_ACCEPTED = '''\
import numpy as np
from numpy.typing import NDArray
from vantrel.mkl import vm

def count(x: NDArray[np.float64]) -> int:
    return vm.exp(x)
'''
# What mypy reveals of the script's reveal_type calls (the array's parameters are
# spelled differently by NumPy's and mypy's versions).
ARRAY = r"numpy\.ndarray\[.*\]"
REVEALED = [ARRAY, ARRAY, rf"tuple\[{ARRAY}, {ARRAY}\]",
            r"numpy\._typing\._ufunc\._UFunc_Nin1_Nout1\[Literal\['la\.ln'\], Literal\[4\], "
            r"None\]", ARRAY,
            # the array given, as its own type: float64 (to NumPy 2.0, floating[_64Bit])
            r"numpy\.ndarray\[.*numpy\.dtype\[numpy\.(float64|floating\[.*64Bit\])\]\]"]


# mypy and the build load none of the package's native code: they run without the
# sanitizer the suite may have preloaded.
PLAIN = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}


def mypy(tmp_path: Path, python: str = sys.executable) -> subprocess.CompletedProcess:
    """mypy --strict on the user's script and on a function that returns a vm result as
    an int, for the environment of `python`, with a cache of its own and no
    configuration file."""
    pytest.importorskip("mypy")
    wrong = tmp_path / "untyped_if_accepted.py"
    wrong.write_text(UNTYPED_IF_ACCEPTED)
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--config-file=", "--no-color-output",
         "--cache-dir", str(tmp_path / "mypy_cache"), "--python-executable", python,
         str(SCRIPT), str(wrong)],
        capture_output=True, text=True, cwd=tmp_path, timeout=300, env=PLAIN)


def assert_results_are_typed(run: subprocess.CompletedProcess) -> None:
    lines = run.stdout.splitlines()
    errors = [line for line in lines if ": error:" in line]
    assert len(errors) == 1, run.stdout + run.stderr  # the int, and nothing in the script
    assert "untyped_if_accepted.py:6: error: Incompatible return value type" in errors[0]
    assert re.search(r'\(got "ndarray\[.*\]", expected "int"\)', errors[0]), errors[0]
    revealed = [line.split('Revealed type is "', 1)[1].rstrip('"') for line in lines
                if "Revealed type is" in line]
    assert len(revealed) == len(REVEALED), run.stdout
    for pattern, found in zip(REVEALED, revealed):
        assert re.fullmatch(pattern, found), (pattern, found)


def test_mypy_types_vm_results_as_arrays(tmp_path):
    assert_results_are_typed(mypy(tmp_path))


def test_the_user_script_runs():
    """What mypy checks is a script that runs, and computes what it says."""
    spec = importlib.util.spec_from_file_location("user_script", SCRIPT)
    script = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(script)
    x = np.linspace(0.5, 2.0, 7)
    assert np.allclose(script.log_of_exp(x), x)
    assert np.allclose(script.normal_cdf(np.zeros(2)), 0.5)
    added, multiplied = script.both(x)
    assert np.allclose(added, np.sin(x) + np.cos(x))
    assert np.allclose(multiplied, np.modf(x)[0] * np.modf(x)[1])
    assert len(script.in_each_accuracy(x)) == 4
    assert np.allclose(script.with_out(x), np.log(x))
    assert np.allclose(script.linear_fraction(x, x), (2 * x + 1) / (x + 0.5))
    assert np.array_equal(script.gathered(x), x[[1, 0]])
    assert np.array_equal(script.scattered(x)[::2], x)
    assert np.allclose(script.in_a_mode(x), np.exp(x))


def linked_site_packages(target: Path) -> Path:
    """This environment's packages but vantrel-mkl, as links in one directory."""
    target.mkdir()
    site = Path(sysconfig.get_paths()["purelib"])
    for entry in site.iterdir():
        if entry.name == "vantrel" or \
                entry.name.startswith(("vantrel_mkl", "_vantrel_mkl", "_editable")) \
                or entry.suffix == ".pth":
            continue
        (target / entry.name).symlink_to(entry)
    return target


def test_an_editable_install_keeps_the_stubs_for_mypy(tmp_path):
    """pip install -e of a copy of the source tree, into an environment that reaches this
    one's packages: mypy, reading vantrel.mkl from src/, finds the stubs there."""
    pytest.importorskip("mypy")
    pytest.importorskip("scikit_build_core")
    if not (SOURCE_TREE / "pyproject.toml").is_file() or shutil.which("cmake") is None:
        pytest.skip("needs the source tree and CMake")
    pip = tuple(int(part) for part in metadata.version("pip").split(".")[:2])
    if pip < (23, 1):
        pytest.skip("needs pip 23.1 or newer, for --python and -C")
    source = tmp_path / "source"
    shutil.copytree(SOURCE_TREE, source, ignore=shutil.ignore_patterns(
        ".git", "build", ".venv*", "_build", "generated", "dist", "wheelhouse",
        "__pycache__", ".pytest_cache", ".hypothesis", "*.pyi", "*.so"))
    environment = tmp_path / "environment"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(environment)],
                   check=True, env=PLAIN)
    python = environment / "bin" / "python"
    site = subprocess.run([str(python), "-c", "import sysconfig; "
                           "print(sysconfig.get_paths()['purelib'])"],
                          capture_output=True, text=True, check=True, env=PLAIN).stdout.strip()
    (Path(site) / "linked.pth").write_text(f"{linked_site_packages(tmp_path / 'linked')}\n")
    install = subprocess.run(
        [sys.executable, "-m", "pip", "--python", str(python), "install", "--no-deps",
         "--no-build-isolation", "-q", "-e", str(source),
         f"-Cbuild-dir={tmp_path / 'build'}"],
        capture_output=True, text=True, timeout=600,
        env={**PLAIN, "PIP_DISABLE_PIP_VERSION_CHECK": "1"})
    assert install.returncode == 0, install.stdout + install.stderr
    assert_results_are_typed(mypy(tmp_path, str(python)))
