"""Measures the module against what a Python user would use instead, and against the
limit, in one process; writes results.md, results.json and results.png.

    python bench/run.py                      # full sizes, into bench/results/, and
                                             # refreshes the tables in bench/README.md
    python bench/run.py --quick --output DIR # tiny sizes, a few seconds
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

BENCH = Path(__file__).resolve().parent
DEFAULT_OUTPUT = BENCH / "results"
README = BENCH / "README.md"
RESULTS_START, RESULTS_END = "<!-- results start -->", "<!-- results end -->"


@dataclass(frozen=True)
class Sizes:
    per_call_batch_s: float
    per_call_rounds: int
    throughput_counts: tuple[int, ...]
    throughput_batch_s: float
    throughput_rounds: int
    import_rounds: int
    thread_counts: tuple[int, ...]
    thread_batch_s: float
    thread_rounds: int
    scratch_count: int
    scratch_batch_s: float
    scratch_rounds: int
    vm_large_count: int
    vm_batch_s: float
    vm_rounds: int
    vm_strided_count: int = 10**6
    vm_sweep_counts: tuple[int, ...] = tuple(10**k for k in range(1, 8))
    vm_reduce_count: int = 10**6


FULL = Sizes(0.002, 51, tuple(10**k for k in range(2, 8)), 0.005, 31, 15,
             (10**3, 10**4, 10**5), 0.05, 11, 10**5, 0.02, 21, 10**5, 0.005, 31)
QUICK = Sizes(0.0005, 2, (10**2, 10**3), 0.0005, 2, 1, (10**3,), 0.002, 2, 10**3, 0.001, 2,
              10**3, 0.0005, 2, 10**3, (10, 10**3), 10**3)


def machine(started: datetime.datetime) -> dict:
    import cffi
    import numpy
    import scipy

    from runtime_library import runtime_version

    cpu = platform.processor() or platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return {"cpu": cpu, "cores": os.cpu_count(), "system": platform.platform(),
            "python": platform.python_version(), "cffi": cffi.__version__,
            "numpy": numpy.__version__, "scipy": scipy.__version__,
            "runtime": runtime_version(), "load_average_at_start": os.getloadavg(),
            "date": started.strftime("%Y-%m-%d %H:%M UTC")}


def measure(sizes: Sizes, quick: bool) -> dict:
    from vantrel.mkl._catalogue.functions import offered_functions
    from vantrel.mkl.tessivec import ffi, lib

    from abi_binding import abi_binding
    from import_time import ImportBench
    from native_build import build_floor, build_native_loop, build_ufunc_floor
    from per_call import PerCallBench
    from runtime_library import set_runtime_threads
    from scratch import ScratchBench
    from threads import ThreadsBench
    from throughput import ThroughputBench
    from vm_calls import VmBench

    started = datetime.datetime.now(datetime.timezone.utc)
    began = time.perf_counter()
    # One runtime thread throughout: the figures compare bindings, not the runtime's
    # own parallelism, and stay steady on a small shared machine.
    set_runtime_threads(1)
    results = {"machine": machine(started), "quick": quick,
               "offered_functions": len(offered_functions())}

    def step(name: str) -> None:
        print(f"[{time.perf_counter() - began:6.1f} s] {name}", file=sys.stderr, flush=True)

    with tempfile.TemporaryDirectory() as build:
        step("building the floor extension and the native loop")
        floor, native = build_floor(Path(build), ffi), build_native_loop(Path(build))
        ufunc_floor = build_ufunc_floor(Path(build))
        abi_ffi, abi_lib = abi_binding()
        step("per-call time")
        results["per_call"] = PerCallBench(lib, ffi, abi_lib, abi_ffi, floor, native,
                                           lib.vmlGetMode()).run(sizes.per_call_batch_s,
                                                                 sizes.per_call_rounds)
        step("throughput")
        results["throughput"] = ThroughputBench(lib, ffi, floor, native).run(
            sizes.throughput_counts, sizes.throughput_batch_s, sizes.throughput_rounds)
        step("threads")
        results["threads"] = ThreadsBench(lib, ffi, floor, native).run(
            sizes.thread_counts, sizes.thread_batch_s, sizes.thread_rounds)
    step("import time")
    results["import"] = ImportBench().run(sizes.import_rounds)
    step("scratch conversion")
    results["scratch"] = ScratchBench(lib, ffi, abi_lib, abi_ffi).run(
        sizes.scratch_count, sizes.scratch_batch_s, sizes.scratch_rounds)
    step("vm")
    results["vm"] = VmBench(lib, ffi, ufunc_floor).run(sizes.vm_large_count, sizes.vm_batch_s,
                                          sizes.vm_rounds, sizes.vm_strided_count,
                                          sizes.vm_sweep_counts, sizes.vm_reduce_count)
    results["elapsed_s"] = time.perf_counter() - began
    step("done")
    return results


def refresh_readme(table: str) -> None:
    text = README.read_text()
    start, end = text.index(RESULTS_START), text.index(RESULTS_END)
    body = table.replace("# Results", "## Latest results", 1).replace("\n## ", "\n### ")
    README.write_text(text[:start + len(RESULTS_START)] + "\n\n" + body + "\n" + text[end:])


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="tiny sizes, to check it runs")
    parser.add_argument("--output", type=Path, default=DEFAULT_OUTPUT,
                        help="folder for results.md, results.json and results.png")
    args = parser.parse_args(argv)

    import report

    results = measure(QUICK if args.quick else FULL, args.quick)
    results["goals"] = report.goals(results)
    table = report.markdown(results)
    args.output.mkdir(parents=True, exist_ok=True)
    (args.output / "results.json").write_text(json.dumps(results, indent=1) + "\n")
    (args.output / "results.md").write_text(table)
    try:
        from plot import write_plot
        write_plot(results, args.output / "results.png")
    except ImportError as error:  # matplotlib comes with the bench extra only
        print(f"no plot: {error}", file=sys.stderr)
    if args.output.resolve() == DEFAULT_OUTPUT:
        refresh_readme(table)
    print(table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
