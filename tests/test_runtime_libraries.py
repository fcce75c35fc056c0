"""A runtime that lacks a library it opens by itself at its first call (its core, the
vector math kernels of this processor's code path) fails the import with an
ImportError naming the file and the pip command, and the self-check says the same,
instead of the runtime ending the process with status 2 at its first call."""

import os
import sys
from pathlib import Path

import pytest
from vantrel.mkl import _runtime

from linked_environment import SITE, linked_copy, probe_without_site

ENVIRONMENT = Path(sys.prefix)
pytestmark = pytest.mark.skipif(not (ENVIRONMENT / "lib" / _runtime.RUNTIME).is_file(),
                                reason="the runtime is not in this environment's lib")
VM_CALL = "from vantrel.mkl import vm; print(vm.exp(1.0))"


@pytest.mark.parametrize("missing, env", [
    ("libmkl_core.so.3", {}),
    ("libmkl_vml_def.so.3", {}),  # the generic path, which every processor may take
    ("libmkl_vml_cmpt.so.3", {"MKL_CBWR": "COMPATIBLE"}),
], ids=["core", "generic-kernels", "compatible-kernels"])
def test_a_missing_runtime_library_fails_the_import_and_the_self_check(tmp_path, missing, env):
    platlib = linked_copy(ENVIRONMENT, tmp_path / "prefix", SITE, leave_out={missing})
    run = probe_without_site(ENVIRONMENT, platlib, env, ("-c", VM_CALL))
    message = run.stderr.strip().splitlines()[-1] if run.stderr.strip() else ""
    assert run.returncode == 1, run.stdout + run.stderr
    assert message.startswith("vantrel.mkl._runtime.RuntimeNotLoadable:"), run.stderr
    assert f"lacks {missing}" in message and "-m pip install --force-reinstall 'mkl" in message

    check = probe_without_site(ENVIRONMENT, platlib, env, ("-m", "vantrel.mkl"))
    assert check.returncode == 1, check.stdout + check.stderr
    assert "vantrel.mkl.tessivec does not load" in check.stdout
    assert f"lacks {missing}" in check.stdout


def test_the_libraries_the_runtime_opened_are_the_ones_checked():
    """The kernels the runtime loads here are among those the check asks for."""
    from code_path import kernel_libraries
    assert set(kernel_libraries()) <= set(_runtime.kernel_libraries_needed())
    assert _runtime.CORE in {os.path.basename(path) for path in _runtime.mapped_libraries()}


@pytest.mark.parametrize("entries, wanted", [
    (["mkl-2026.2.1.dist-info", "numpy-2.4.0.dist-info"], (2026, 2)),
    (["mkl-2025.3.0.dist-info"], (2025, 3)),
    (["mkl-2026.0.0.dist-info", "mkl-2025.1.0.dist-info"], None),  # which one is loaded?
    (["mkl_fft-2.0.dist-info"], None),
])
def test_the_runtimes_version_is_read_from_its_wheel_beside_the_package(tmp_path, entries,
                                                                      wanted):
    site = tmp_path / "lib" / "python3" / "site-packages"
    for entry in entries:
        (site / entry).mkdir(parents=True)
    assert _runtime.wheel_version(str(tmp_path / "lib"), str(site)) == wanted
    # A runtime loaded from anywhere else is asked for its version itself.
    assert _runtime.wheel_version(str(tmp_path), str(site)) is None
    assert _runtime.wheel_version(None, str(site)) is None


def test_a_runtime_older_than_the_oldest_admitted_is_refused(monkeypatch):
    monkeypatch.setattr(_runtime, "wheel_version", lambda directory: (2025, 3))
    with pytest.raises(_runtime.RuntimeNotLoadable, match=r"is 2025\.3; vantrel\.mkl needs "
                       r"2026\.0 or newer"):
        _runtime._check(None, None)


# A runtime that lacks one of vm's functions outside lib: ctypes' lookup of it fails,
# and vm's extension fails to load as the linker fails it, as on a runtime built
# without the function.
WITHOUT_JN = """
import ctypes, sys
found = ctypes.CDLL.__getattr__
def lookup(library, name):
    if name == "vmdJn":
        raise AttributeError(name)
    return found(library, name)
ctypes.CDLL.__getattr__ = lookup
class Unlinkable:
    def find_spec(self, name, path=None, target=None):
        if name == "vantrel.mkl._dispatch":
            raise ImportError("_dispatch.so: undefined symbol: vmdJn", name=name)
sys.meta_path.insert(0, Unlinkable())
from vantrel.mkl.tessivec import lib
print(lib.vmlGetMode() >= 0)
try:
    from vantrel.mkl import vm
except ImportError as error:
    print(type(error).__name__, error)
"""


def test_a_runtime_without_a_function_of_vm_fails_vms_import_and_not_libs():
    import subprocess
    run = subprocess.run([sys.executable, "-c", WITHOUT_JN], capture_output=True, text=True,
                         check=True)
    loaded, refused = run.stdout.strip().splitlines()
    assert loaded == "True"
    assert refused.startswith("RuntimeNotLoadable") and "lacks 1 of the functions" in refused
    assert "(vmdJn)" in refused and "--force-reinstall 'mkl" in refused


def test_the_runtime_exports_every_function_vm_calls_outside_lib():
    import ctypes
    assert _runtime.missing_vm_functions(ctypes.CDLL(_runtime.RUNTIME)) == []
