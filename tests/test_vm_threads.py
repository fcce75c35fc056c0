"""The runtime's threads under vm: small calls run on the calling thread alone, large
strided ones are shared among the runtime's threads, and a threadpoolctl limit on mkl_rt
holds for vm's calls. Each check runs in a fresh process,
where the runtime has started no threads yet."""

import json
import os
import subprocess
import sys

import pytest

pytest.importorskip("threadpoolctl")

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
for _ in range(5):
    vm.pow(x, x)
    vm.exp(x[::2])
report["after_large_calls"] = threads()
report["shared"] = _dispatch.calls_shared() - shared
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


def test_threadpoolctl_sees_the_runtime_and_its_limit_holds_for_vm(report):
    assert report["mkl"] and report["mkl"][0] >= 1
    assert report["mkl_limited"] == [1]
    assert report["limited_after_calls"] == [1]  # vm's own thread setting is put back
    assert report["mkl_after_limit"] == report["mkl"]
    # Under the limit, large calls start no threads of the runtime, and strided ones
    # are not shared out.
    assert report["after_limited_large_calls"] == report["start"]
    assert report["shared_under_limit"] == 0


def test_small_calls_run_on_the_calling_thread(report):
    assert report["one_thread_below"] > 5000
    assert report["after_small_calls"] == report["start"]


@pytest.mark.skipif((os.cpu_count() or 1) < 2, reason="one processor: no threads to start")
def test_large_calls_use_the_runtimes_threads(report):
    assert report["after_large_calls"] > report["start"]
    assert report["shared"] == 5
