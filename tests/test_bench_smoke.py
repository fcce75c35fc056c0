"""The benchmark runs end to end at tiny sizes, so that it cannot rot. No figure is
checked: timings belong in bench/README.md, not in assertions."""

import json
import subprocess
import sys
from pathlib import Path

import pytest

RUN = Path(__file__).resolve().parents[1] / "bench" / "run.py"


@pytest.fixture(scope="module")
def quick_run(tmp_path_factory):
    output = tmp_path_factory.mktemp("bench")
    completed = subprocess.run([sys.executable, str(RUN), "--quick", "--output", str(output)],
                               capture_output=True, text=True, timeout=600)
    assert completed.returncode == 0, completed.stderr
    return output, json.loads((output / "results.json").read_text())


def test_every_section_measures_every_contender(quick_run):
    _, results = quick_run
    per_call = {row["call"].split("(")[0]: set(row["timings"]) for row in results["per_call"]}
    assert set(per_call) == {"vdExp", "vdAdd", "vmdLinearFrac", "vdadd", "vmlSetErrStatus",
                             "vmlGetMode"}
    for contenders in per_call.values():
        assert {"module", "floor", "ctypes", "ABI-mode CFFI", "runtime from C"} <= contenders
    assert {"NumPy ufunc", "module, from_buffer of NumPy arrays",
            "module, from_buffer of bytearrays"} <= per_call["vdAdd"]
    functions = {row["function"] for row in results["throughput"]}
    assert functions == {"vdExp", "vsSin", "vdAdd", "vzMul", "vdErfInv"}
    assert all({"module", "native loop", "NumPy/SciPy"} <= set(row["timings"])
               for row in results["throughput"])
    assert len(results["import"]) == 10 and results["threads"] and results["scratch"]
    assert {"one_element", "large", "strided", "sweep", "in_place", "scalar", "pack",
            "underflow"} <= set(results["vm"])
    timings = [t for row in results["per_call"] + results["throughput"] + results["threads"]
               for t in row["timings"].values()]
    assert all(t["median_s"] > 0 for t in timings)


def test_writes_the_table_and_the_plot(quick_run):
    output, results = quick_run
    table = (output / "results.md").read_text()
    for goal in results["goals"]:
        assert goal["goal"] in table
    assert "## Per-call time" in table and "## Throughput" in table
    pytest.importorskip("matplotlib")
    assert (output / "results.png").read_bytes().startswith(b"\x89PNG")
