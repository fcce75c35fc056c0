"""show_config tells a program what the package runs on, each entry as an independent
source sees it; python -m vantrel.mkl takes its options through argparse; vm lists its
own names only; vantrel.mkl reaches vm as an attribute."""

import json
import subprocess
import sys
import threading
from importlib import metadata
from pathlib import Path

import _cffi_backend
import numpy as np
import pytest
import vantrel.mkl
from vantrel.mkl import show_config, vm

KEYS = {"versions", "runtime", "cpu", "threads", "mode", "environment"}


def run(*code_or_args, env=None):
    return subprocess.run([sys.executable, *code_or_args], capture_output=True, text=True,
                          env=env, timeout=120)


def test_the_dicts_name_what_runs_here():
    config = show_config(mode="dicts")
    assert set(config) == KEYS
    versions = config["versions"]
    assert versions == {"vantrel-mkl": metadata.version("vantrel-mkl"),
                        "python": "{}.{}.{}".format(*sys.version_info[:3]),
                        "numpy": np.__version__, "cffi": _cffi_backend.__version__,
                        "mkl": metadata.version("mkl"), "runtime": versions["runtime"]}
    # The runtime reports its year and update (2026.2) of the wheel's 2026.2.1.
    assert metadata.version("mkl").startswith(versions["runtime"] + ".")
    runtime = config["runtime"]
    assert runtime["error"] is None
    assert f"Version {versions['runtime']}" in runtime["version_string"]
    mapped = [line.split()[-1] for line in Path("/proc/self/maps").read_text().splitlines()
              if line.endswith("/libmkl_rt.so.3")]
    assert runtime["path"] == mapped[0] and Path(runtime["path"]).is_file()
    assert runtime["kernels"] and all(k.startswith("libmkl_vml_") for k in runtime["kernels"])
    assert runtime["generic_kernels"] == any(k in ("libmkl_vml_def.so.3", "libmkl_vml_cmpt.so.3")
                                             for k in runtime["kernels"])
    assert config["cpu"]["vendor"] and config["cpu"]["machine"] == "x86_64"
    assert json.loads(json.dumps(config)) == config  # a program can store and send it


def test_threads_and_layer_are_the_ones_threadpoolctl_sees():
    threadpoolctl = pytest.importorskip("threadpoolctl")
    threads = show_config(mode="dicts")["threads"]
    pool, = [p for p in threadpoolctl.threadpool_info() if p["internal_api"] == "mkl"]
    assert threads["max_threads"] == pool["num_threads"]
    assert threads["threading_layer"].lower() == pool["threading_layer"]
    with threadpoolctl.threadpool_limits(1, user_api="blas"):
        assert show_config(mode="dicts")["threads"]["max_threads"] == 1


def test_another_threading_layer_is_named_as_chosen():
    env = {**__import__("os").environ, "MKL_THREADING_LAYER": "SEQUENTIAL"}
    shown = run("-c", "import json; from vantrel.mkl import show_config; "
                      "print(json.dumps(show_config(mode='dicts')))", env=env)
    config = json.loads(shown.stdout)
    assert config["threads"] == {"max_threads": 1, "threading_layer": "SEQUENTIAL",
                                 "requested_layer": "SEQUENTIAL"}
    assert config["environment"]["MKL_THREADING_LAYER"] == "SEQUENTIAL"


def test_the_mode_is_the_calling_threads():
    seen = {}

    def mode_of_this_thread(key):
        seen[key] = show_config(mode="dicts")["mode"]

    def under_ep():
        # In a thread of its own: FTZDAZ cannot return to its default in a thread.
        with vm.mode(vm.EP | vm.FTZDAZ_ON):
            mode_of_this_thread("inside")
            seen["value"] = vm.get_mode()
            other = threading.Thread(target=mode_of_this_thread, args=("other",))
            other.start()
            other.join()

    worker = threading.Thread(target=under_ep)
    worker.start()
    worker.join()
    inside, other = seen["inside"], seen["other"]
    assert inside["value"] == seen["value"]
    assert (inside["accuracy"], inside["ftzdaz"]) == ("EP", "ON")
    assert (other["accuracy"], other["ftzdaz"]) == ("HA", "CURRENT")
    assert other["errmode"] == ["ERRNO", "EXCEPT", "CALLBACK"]
    assert show_config(mode="dicts")["mode"]["value"] == vm.get_mode()


def test_printing_shows_the_same_and_returns_nothing(capsys):
    assert show_config() is None
    out = capsys.readouterr().out
    config = show_config(mode="dicts")
    assert config["runtime"]["path"] in out and config["mode"]["text"] in out
    with pytest.raises(ValueError, match="'stdout', 'dicts'"):
        show_config(mode="dict")


def test_without_the_backend_the_dicts_say_why():
    blocked = ("import json, sys; sys.modules['_cffi_backend'] = None; "
               "from vantrel.mkl import show_config; c = show_config(mode='dicts'); "
               "print(json.dumps(c))")
    shown = run("-c", blocked)
    assert shown.returncode == 0, shown.stderr
    config = json.loads(shown.stdout)
    assert "vantrel.mkl.tessivec does not load" in config["runtime"]["error"]
    assert config["mode"] is None and config["versions"]["cffi"] is None
    assert config["versions"]["vantrel-mkl"] == metadata.version("vantrel-mkl")


def test_the_command_line_takes_help_and_json_and_refuses_the_rest():
    shown = run("-m", "vantrel.mkl", "--help")
    assert shown.returncode == 0
    assert shown.stdout.startswith("usage: python -m vantrel.mkl [-h] [--json]")
    assert "ok " not in shown.stdout  # no checks run
    shown = run("-m", "vantrel.mkl", "--json")
    assert shown.returncode == 0 and set(json.loads(shown.stdout)) == KEYS
    shown = run("-m", "vantrel.mkl", "--jsn")
    assert shown.returncode == 2 and "unrecognized arguments: --jsn" in shown.stderr


def test_dir_of_vm_lists_its_own_names_and_each_resolves():
    names = set(dir(vm))
    assert set(vm.__all__) <= names
    assert not names & {"SimpleNamespace", "annotations", "sys", "ModuleType", "import_module"}
    assert all(n in vm.__all__ or (n.startswith("__") and n.endswith("__")) for n in names)
    for name in names:
        getattr(vm, name)
    assert {"exp", "sincos", "la", "mode", "packv", "HA"} <= names


def test_the_package_reaches_vm_and_show_config_as_attributes():
    shown = run("-c", "import vantrel.mkl; print(vantrel.mkl.vm.exp.__name__, "
                      "'show_config' in dir(vantrel.mkl), 'vm' in dir(vantrel.mkl))")
    assert shown.stdout.split() == ["exp", "True", "True"], shown.stderr
    assert vantrel.mkl.show_config is show_config
