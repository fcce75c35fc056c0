"""The built wheel installed the ways pip installs it, each in a scratch environment.

Set VANTREL_MKL_WHEEL to the wheel to test (CI builds it once); without it these
tests are skipped. The wheel's dependencies are taken at the versions of the
environment running the tests, downloaded once into a wheelhouse.
"""

import os
import shlex
import subprocess
import sys
from importlib import metadata
from pathlib import Path

import pytest

from linked_environment import PROBE, SITE, linked_copy, probe_without_site

WHEEL = os.environ.get("VANTREL_MKL_WHEEL")
pytestmark = pytest.mark.skipif(not WHEEL, reason="VANTREL_MKL_WHEEL names no wheel")

DEPENDENCIES = ["cffi", "pycparser", "numpy", "mkl", "intel-openmp", "tbb", "tcmlib", "umf",
                "intel-cmplr-lib-ur"]

@pytest.fixture(scope="module")
def wheelhouse(tmp_path_factory):
    house = tmp_path_factory.mktemp("wheelhouse")
    pins = house / "constraints.txt"
    versions = []
    for name in DEPENDENCIES:
        try:
            versions.append(f"{name}=={metadata.version(name)}")
        except metadata.PackageNotFoundError:
            pass
    pins.write_text("\n".join(versions) + "\n")
    pip(["download", "-q", "-d", str(house), "-c", str(pins), WHEEL])
    return house


def pip(arguments, python=sys.executable, env=None):
    command = [sys.executable, "-m", "pip", "--python", str(python), *arguments]
    run = subprocess.run(command, capture_output=True, text=True, env=env)
    assert run.returncode == 0, run.stdout + run.stderr


def install(wheelhouse, python, *arguments, env=None):
    pip(["install", "-q", "--no-index", "--find-links", str(wheelhouse), *arguments],
        python, env)


def venv(path, *options):
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", *options, str(path)],
                   check=True)
    return path / "bin" / "python"


def probe(python, env=None):
    environment = {k: v for k, v in os.environ.items()
                   if not k.startswith(("MKL_", "PYTHON", "LD_PRELOAD"))}
    environment.update(env or {})
    return subprocess.run([str(python), "-c", PROBE], capture_output=True, text=True,
                          env=environment, cwd="/")


def loaded(run, name):
    """The directory the library `name` was loaded from in a probe's run."""
    assert run.returncode == 0, run.stdout + run.stderr
    found = [Path(line) for line in run.stdout.splitlines() if Path(line).name == name]
    assert found, f"{name} not loaded:\n{run.stdout}"
    return found[0].parent


@pytest.fixture(scope="module")
def environment(wheelhouse, tmp_path_factory):
    """A virtual environment with the wheel and its dependencies."""
    root = tmp_path_factory.mktemp("venv")
    python = venv(root)
    install(wheelhouse, python, WHEEL)
    return root


def test_a_virtual_environment_loads_the_runtime_from_its_lib(environment):
    assert loaded(probe(environment / "bin/python"), "libmkl_rt.so.3") == environment / "lib"


@pytest.mark.parametrize("variable, value, library", [
    ("MKL_THREADING_LAYER", "TBB", "libmkl_tbb_thread.so.3"),
    ("MKL_THREADING_LAYER", "SEQUENTIAL", "libmkl_sequential.so.3"),
    ("MKL_THREADING_LAYER", "INTEL", "libmkl_intel_thread.so.3"),
    ("MKL_INTERFACE_LAYER", "LP64,GNU", "libmkl_gf_lp64.so.3"),
])
def test_each_layer_the_environment_chooses_is_loaded(environment, variable, value, library):
    run = probe(environment / "bin/python", {variable: value})
    assert loaded(run, library) == environment / "lib"


@pytest.mark.parametrize("in_user_site", [["vantrel-mkl"], ["vantrel-mkl", "mkl"]],
                         ids=["package", "package-and-mkl"])
def test_a_user_install_beside_the_environments_libraries(wheelhouse, tmp_path, in_user_site):
    python = venv(tmp_path / "env", "--system-site-packages")
    user = {"PYTHONUSERBASE": str(tmp_path / "user")}
    everything_else = ["cffi", "numpy", "intel-openmp", "tbb"]
    if "mkl" not in in_user_site:
        everything_else.append("mkl")
    install(wheelhouse, python, *everything_else)
    wanted = [WHEEL if name == "vantrel-mkl" else name for name in in_user_site]
    install(wheelhouse, python, "--user", "--no-deps", *wanted, env={**os.environ, **user})
    run = probe(python, user)
    expected = tmp_path / ("user" if "mkl" in in_user_site else "env") / "lib"
    assert loaded(run, "libmkl_rt.so.3") == expected
    assert loaded(run, "libiomp5.so") == tmp_path / "env" / "lib"


def test_a_target_install_without_the_library_names_the_fix(wheelhouse, tmp_path):
    python = venv(tmp_path / "env")
    target = tmp_path / "target"
    install(wheelhouse, python, "--target", str(target), WHEEL)
    run = probe(python, {"PYTHONPATH": str(target)})
    assert run.returncode == 1
    message = run.stderr.strip().splitlines()[-1]
    assert message.startswith("vantrel.mkl._runtime.RuntimeNotLoadable:")
    assert "--target" in message and "-m pip install --ignore-installed 'mkl" in message
    fix = shlex.split(message.split("Install it with: ")[1])
    install(wheelhouse, python, *fix[4:], env={**os.environ, "PYTHONPATH": str(target)})
    assert loaded(probe(python, {"PYTHONPATH": str(target)}), "libmkl_rt.so.3") == (
        tmp_path / "env" / "lib")


def test_a_lib64_platlib_finds_the_runtime_in_lib(environment, tmp_path):
    """As on Fedora, RHEL and SUSE: packages in lib64/pythonX.Y/site-packages, pip's
    data files in lib."""
    prefix = tmp_path / "prefix"
    platlib = linked_copy(environment, prefix, SITE.replace("lib/", "lib64/", 1))
    text = (platlib / f"mkl-{metadata.version('mkl')}.dist-info" / "RECORD").read_text()
    assert "../../../lib/libmkl_rt.so.3" in text
    run = probe_without_site(environment, platlib)
    assert loaded(run, "libmkl_rt.so.3") == prefix / "lib"
    assert not (prefix / "lib64" / "libmkl_rt.so.3").exists()


def test_a_runtime_without_the_chosen_interface_library_fails_the_import(environment,
                                                                          tmp_path):
    """As mkl 2026.2.0's wheel, which lacks libmkl_gf_lp64.so.3: an ImportError instead
    of the runtime ending the process at its first call."""
    prefix = tmp_path / "prefix"
    platlib = linked_copy(environment, prefix, SITE, leave_out={"libmkl_gf_lp64.so.3"})
    run = probe_without_site(environment, platlib, {"MKL_INTERFACE_LAYER": "LP64,GNU"})
    assert run.returncode == 1
    message = run.stderr.strip().splitlines()[-1]
    assert "RuntimeNotLoadable" in message and "libmkl_gf_lp64.so.3" in message
    assert loaded(probe_without_site(environment, platlib), "libmkl_rt.so.3") == prefix / "lib"
