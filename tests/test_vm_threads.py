"""The runtime's threads under vm: small calls run on the calling thread alone, large
ones, contiguous, strided or in place, are shared among the runtime's threads where
sharing is found to pay, and a threadpoolctl limit on mkl_rt holds for vm's calls. Each
check runs in a fresh process, where the runtime has started no threads yet."""

import json
import os
import subprocess
import sys

import pytest

pytest.importorskip("threadpoolctl")

from code_path import threading_layer  # noqa: E402

SCRIPT = """
import json, os, sys
import numpy as np
import threadpoolctl
from vantrel.mkl import _dispatch, vm

def threads():
    return len(os.listdir("/proc/self/task"))

def mkl_threads():
    return [p["num_threads"] for p in threadpoolctl.threadpool_info()
            if p["internal_api"] == "mkl"]

x = np.linspace(0.5, 1.5, 10**6)
report = {"one_thread_below": _dispatch.one_thread_below(), "mkl": mkl_threads(),
          "start": threads()}
for _ in range(20):
    vm.pow(x[:1000], x[:1000])
    vm.exp(x[:5000])
report["after_small_calls"] = threads()
with threadpoolctl.threadpool_limits(limits=1, user_api="blas"):
    report["mkl_limited"] = mkl_threads()
    shared = _dispatch.calls_shared()
    for _ in range(5):
        vm.pow(x, x)
        vm.exp(x[::2])
    report["limited_after_calls"] = mkl_threads()
    report["after_limited_large_calls"] = threads()
    report["shared_under_limit"] = _dispatch.calls_shared() - shared
report["mkl_after_limit"] = mkl_threads()
shared = _dispatch.calls_shared()
for _ in range(8):
    vm.pow(x, x)
    vm.exp(x[::2])
report["after_large_calls"] = threads()
report["shared"] = _dispatch.calls_shared() - shared
y = x.copy()
shared = _dispatch.calls_shared()
for _ in range(8):
    vm.sin(y, out=y)
report["shared_in_place"] = _dispatch.calls_shared() - shared
print(json.dumps(report))
"""


@pytest.fixture(scope="module")
def report():
    # The runtime's own defaults: no thread count inherited (dask's workers, for one,
    # set these variables in the processes they start).
    environment = {name: value for name, value in os.environ.items()
                   if name not in ("MKL_NUM_THREADS", "OMP_NUM_THREADS", "MKL_DOMAIN_NUM_THREADS")}
    run = subprocess.run([sys.executable, "-c", SCRIPT], capture_output=True, text=True,
                         timeout=120, env={**environment, "MKL_DYNAMIC": "FALSE"})
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


LAYER = threading_layer()
OPENMP = LAYER in ("intel", "gnu")


def test_threadpoolctl_sees_the_runtime_and_its_limit_holds_for_vm(report):
    assert report["mkl"] and report["mkl"][0] >= 1
    assert report["mkl_limited"] == [1]
    assert report["limited_after_calls"] == [1]  # vm's own thread setting is put back
    assert report["mkl_after_limit"] == report["mkl"]
    assert report["shared_under_limit"] == 0  # strided calls are not shared out
    if OPENMP:
        # Under the limit, large calls start no threads of the runtime. (TBB starts its
        # workers whatever the runtime's thread count.)
        assert report["after_limited_large_calls"] == report["start"]


@pytest.mark.skipif(LAYER == "tbb", reason="under TBB the runtime splits calls of a few "
                    "hundred elements whatever its thread settings")
def test_small_calls_run_on_the_calling_thread(report):
    assert report["one_thread_below"] > 5000
    assert report["after_small_calls"] == report["start"]


@pytest.mark.skipif((os.cpu_count() or 1) < 2, reason="one processor: no threads to start")
def test_large_calls_use_the_runtimes_threads(report):
    if LAYER == "sequential":
        assert report["after_large_calls"] == report["start"]
    else:
        assert report["after_large_calls"] > report["start"]
    # Where the runtime lends an OpenMP team, a loop's first large calls are timed
    # shared and alone, three times each way, in place as out of place; TBB's threads
    # take calls as the runtime cuts them.
    assert report["shared"] >= (6 if OPENMP else 0)
    assert report["shared_in_place"] >= (3 if OPENMP else 0)
    if not OPENMP:
        assert report["shared"] == report["shared_in_place"] == 0


# In-place and strided calls, each meeting divide by zero at one place and, every other
# call, invalid at another before it: the runtime may compute any part on any thread.
CONDITIONS_SCRIPT = """
import numpy as np
from vantrel.mkl import vm
rng = np.random.default_rng(5)
missed = []
for n in (10**3, 10**6):
    for call in range(20):
        x = np.ones(2 * n)
        x[2 * rng.integers(n)] = 0.0
        if call % 2:
            x[2 * rng.integers(n)] = -1.0
        for layout, y in (("in place", x.copy()), ("strided", x.copy()[::2])):
            try:
                with np.errstate(all="ignore", divide="raise"):
                    vm.ln(y, out=y)
                missed.append((n, call, layout))
            except FloatingPointError:
                pass
print(missed)
"""


@pytest.mark.parametrize("layer", ["INTEL", "GNU", "TBB", "SEQUENTIAL"])
def test_every_condition_is_reported_under_every_threading_layer(layer):
    run = subprocess.run([sys.executable, "-c", CONDITIONS_SCRIPT], capture_output=True,
                         text=True, timeout=300,
                         env={**os.environ, "MKL_THREADING_LAYER": layer})
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "[]"
