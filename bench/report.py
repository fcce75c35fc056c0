"""The results as goals and a Markdown table. Every figure is a contender's best round
of the interleaved rounds (see harness.reported_seconds)."""

from __future__ import annotations

import import_time
import per_call
import scratch
import threads
import throughput
import vm_calls
from harness import paired_ratio, reported_seconds

# The count from which the module must keep within 2 % of the native loop.
LARGE_COUNT = 10**5



def _per_call_row(results: dict, call: str) -> dict:
    return next(row for row in results["per_call"] if row["call"] == call)["timings"]


def goals(results: dict) -> list[dict]:
    """Each goal of the comparison with its measured ratio or difference."""
    found = []

    def goal(name, measured, target, met):
        found.append({"goal": name, "measured": measured, "target": target, "met": bool(met)})

    add = _per_call_row(results, "vdAdd(1, a, b, r)")
    module = reported_seconds(add, per_call.MODULE)
    for contender, limit in ((per_call.CTYPES, 0.3), (per_call.ABI, 0.7),
                             (per_call.NUMPY, 0.5), (per_call.FLOOR, 1.3)):
        ratio = module / reported_seconds(add, contender)
        goal(f"vdAdd(1): module / {contender}", f"{ratio:.2f}x", f"<= {limit}x",
             ratio <= limit)

    large = [row for row in results["throughput"] if row["count"] >= LARGE_COUNT]
    for module, arrays in ((throughput.MODULE, "arrays wrapped once"),
                           (throughput.MODULE_WRAPPING, "from_buffer in the call")):
        if not large:
            break
        worst = max(large, key=lambda row: _throughput_ratio(row, module))
        excess = _throughput_ratio(worst, module) - 1
        goal(f"counts >= 10^5, {arrays}: module time over native loop (worst: "
             f"{worst['function']}, {worst['count']:.0e})", f"{excess * 100:+.2f} %",
             "<= +2 %", excess <= 0.02)
    if large:
        noise = max(abs(_throughput_ratio(row, throughput.NATIVE_CONTROL) - 1) for row in large)
        found.append({"goal": "(noise: native loop against itself, largest difference at "
                              "counts >= 10^5)", "measured": f"{noise * 100:.1f} %",
                      "target": "", "met": None})

    imports = results["import"]
    module_import = reported_seconds(imports, import_time.MODULE)
    extra = module_import - reported_seconds(imports, import_time.BASELINE)
    goal("import: module over _cffi_backend + loading the runtime", f"{extra * 1e3:+.1f} ms",
         "<= +10 ms", extra <= 0.010)
    speedup = reported_seconds(imports, import_time.ABI_CDEF) / module_import
    goal("import: ABI-mode cdef time / module import time", f"{speedup:.0f}x", ">= 10x",
         speedup >= 10)

    for row in results["threads"]:
        scaling = _thread_scaling(row)
        goal(f"two threads / one thread, vdExp({row['count']:.0e})", f"{scaling:.2f}x",
             ">= 1.7x", scaling >= 1.7)

    extra_vm = (reported_seconds(imports, import_time.WITH_VM)
                - reported_seconds(imports, import_time.NUMPY_AND_MODULE))
    goal("import: vantrel.mkl.vm over numpy and vantrel.mkl.tessivec",
         f"{extra_vm * 1e3:+.1f} ms", "<= +20 ms", extra_vm <= 0.020)
    over_numpy = (reported_seconds(imports, import_time.VM_ALONE)
                  - reported_seconds(imports, import_time.NUMPY_ALONE))
    goal("import: vantrel.mkl.vm over numpy, fresh process", f"{over_numpy * 1e3:+.1f} ms",
         "<= +10 ms", over_numpy <= 0.010)
    first_vm = reported_seconds(imports, import_time.FIRST_VM)
    first_numpy = reported_seconds(imports, import_time.FIRST_NUMPY)
    goal("first call: vm.exp(x) (np.exp(x): "
         f"{first_numpy * 1e3:.3f} ms; reported)", f"{first_vm * 1e3:.2f} ms", "-", True)

    vm = results["vm"]
    ratio = paired_ratio(vm["one_element"], vm_calls.VM_ONE, vm_calls.NUMPY_ONE)
    goal("vm.exp(x) / np.exp(x), one float64 element (reported)", f"{ratio:.2f}x", "-", True)
    for ours, floor, what in ((vm_calls.VM_ONE_OUT, vm_calls.FLOOR_ONE, "vm.exp, 1 element"),
                              (vm_calls.VM_TEN_OUT, vm_calls.FLOOR_TEN, "vm.exp, 10 elements"),
                              (vm_calls.VM_ADD_ONE, vm_calls.FLOOR_ADD_ONE, "vm.add, 1 element")):
        ratio = paired_ratio(vm["one_element"], ours, floor)
        goal(f"{what} / a ufunc whose loop only calls the m form", f"{ratio:.2f}x", "<= 1.05x",
             ratio <= 1.05)
    ratio = paired_ratio(vm["where"], vm_calls.WHERE_VM, vm_calls.WHERE_NUMPY)
    goal(f"vm.exp / np.exp with a 50 % random where=, {vm['large_count']:.0e} elements",
         f"{ratio:.2f}x", "<= 1.0x", ratio <= 1.0)
    excess = paired_ratio(vm["large"], vm_calls.VM_LARGE_OUT, vm_calls.LIB_LARGE) - 1
    goal(f"{vm_calls.VM_LARGE_OUT} over lib.vdExp, {vm['large_count']:.0e} float64 elements",
         f"{excess * 100:+.1f} %", "<= +3 %", excess <= 0.03)
    ratio = paired_ratio(vm["strided"], vm_calls.STRIDED, vm_calls.STRIDED_FLOOR)
    goal(f"vm.exp strided / its floor ({vm_calls.STRIDED_FLOOR}), "
         f"{vm['strided_count']:.0e} elements, {vm['cores']} runtime threads",
         f"{ratio:.2f}x", "<= 1.05x", ratio <= 1.05)
    ratio = paired_ratio(vm["strided"], vm_calls.STRIDED, vm_calls.CONTIGUOUS)
    goal("vm.exp strided / contiguous, the same count (reported)", f"{ratio:.2f}x", "-", True)
    for operation in vm_calls.SWEPT:
        rows = [row for row in vm["sweep"] if row["operation"] == operation]
        worst = max(rows, key=_sweep_ratio)
        ratio = _sweep_ratio(worst)
        goal(f"vm.{operation} with the runtime's threads / one runtime thread, worst size "
             f"({worst['count']:.0e})", f"{ratio:.2f}x", "<= 1.03x", ratio <= 1.03)
    ratio = paired_ratio(vm["in_place"], vm_calls.IN_PLACE, vm_calls.OUT_OF_PLACE)
    goal(f"{vm_calls.IN_PLACE} / {vm_calls.OUT_OF_PLACE}, {vm['strided_count']:.0e} elements, "
         f"{vm['cores']} runtime threads", f"{ratio:.2f}x", "<= 1.1x", ratio <= 1.1)
    ratio = paired_ratio(vm["scalar"], vm_calls.SCALAR_VM, vm_calls.TWO_ARRAYS_VM)
    numpy_ratio = paired_ratio(vm["scalar"], vm_calls.SCALAR_NUMPY, vm_calls.TWO_ARRAYS_NUMPY)
    goal(f"{vm_calls.SCALAR_VM} / {vm_calls.TWO_ARRAYS_VM}, {vm['large_count']:.0e} elements "
         f"(NumPy's pair: {numpy_ratio:.2f}x)", f"{ratio:.2f}x", "<= 0.8x", ratio <= 0.8)
    ratio = paired_ratio(vm["pack"], vm_calls.PACKV, vm_calls.INDEXING)
    goal("vm.packv(x, idx) / x[idx], 100 elements", f"{ratio:.2f}x", "<= 3x", ratio <= 3)
    ratio = paired_ratio(vm["underflow"], vm_calls.UNDERFLOW_VM, vm_calls.UNDERFLOW_FLOOR)
    goal("vm.exp / its floor (the runtime's HA | NOERR), float32, 40 % underflowing results",
         f"{ratio:.2f}x", "<= 1.05x", ratio <= 1.05)
    ratio = paired_ratio(vm["underflow"], vm_calls.UNDERFLOW_VM, vm_calls.UNDERFLOW_NUMPY)
    goal("vm.exp / np.exp, the same values (reported)", f"{ratio:.2f}x", "-", True)
    ratio = paired_ratio(vm["reduce"], vm_calls.REDUCE_VM, vm_calls.REDUCE_NUMPY)
    goal(f"vm.add.reduce / np.add.reduce, {vm['reduce_count']:.0e} float64 elements",
         f"{ratio:.2f}x", "<= 2x", ratio <= 2)
    return found


def _sweep_ratio(row: dict) -> float:
    return paired_ratio(row["timings"], vm_calls.THREADS, vm_calls.ONE_THREAD)


def _throughput_ratio(row: dict, module: str = throughput.MODULE) -> float:
    return paired_ratio(row["timings"], module, throughput.NATIVE)


def _thread_scaling(row: dict, one=threads.ONE_THREAD, two=threads.TWO_THREADS) -> float:
    # Seconds per call over all workers: the throughput ratio is the inverse time ratio.
    return paired_ratio(row["timings"], one, two)


def _ns(seconds: float | None) -> str:
    return "—" if seconds is None else f"{seconds * 1e9:,.0f}"


def _table(header: list[str], rows: list[list[str]]) -> list[str]:
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return lines + [""]


def _per_call_section(results: dict) -> list[str]:
    lines = ["## Per-call time, count 1 (ns per call)", "",
             "Each contender calls the same runtime function on 1-element arrays (cdata for "
             "the module, the floor and the ABI-mode binding, ctypes arrays for ctypes, NumPy "
             "arrays for the ufunc), with the function and arguments bound to locals of the "
             "timing loop.", ""]
    contenders = list(per_call.CONTENDERS)
    rows = []
    for row in results["per_call"]:
        timings = row["timings"]
        module = reported_seconds(timings, per_call.MODULE)
        cells = [f"`{row['call']}`", row["wrapper"]] + [_ns(reported_seconds(timings, c))
                                                        for c in contenders]
        for contender in (per_call.FLOOR, per_call.CTYPES, per_call.ABI, per_call.NUMPY):
            other = reported_seconds(timings, contender)
            cells.append("—" if other is None else f"{module / other:.2f}")
        rows.append(cells)
    header = ["call", "wrapper"] + contenders + ["module / floor", "module / ctypes",
                                                 "module / ABI", "module / NumPy"]
    lines += _table(header, rows)

    add = _per_call_row(results, "vdAdd(1, a, b, r)")
    lines += ["### Where the time of `vdAdd(1, a, b, r)` goes", "",
              "The floor reads each cdata array's address straight from the object; the two "
              "steps after it add what the module's wrapper does on top: each argument "
              "converted by the backend's entry points, then the backend's errno bracket "
              "around the runtime call.", ""]
    rows, previous = [], None
    for step in per_call.BREAKDOWN:
        value = reported_seconds(add, step)
        added = "" if previous is None or step == per_call.EMPTY_LOOP else _ns(value - previous)
        rows.append([step, _ns(value), added])
        if step != per_call.EMPTY_LOOP:
            previous = value
    lines += _table(["step", "ns per call", "added over the step before"], rows)

    lines += ["### `vdAdd(1, a, b, r)` on memory other objects lend", "",
              "The same call on `ffi.from_buffer` arrays, which each call holds with a buffer "
              "export of its own taken from the array's exporter, against the module's own "
              "`ffi.new` arrays.", ""]
    own = reported_seconds(add, per_call.MODULE)
    rows = [[name if name != per_call.MODULE else "module, ffi.new arrays",
             _ns(reported_seconds(add, name)),
             f"{(reported_seconds(add, name) / own - 1) * 100:+.0f} %"]
            for name in per_call.BORROWED]
    lines += _table(["arrays", "ns per call", "over ffi.new arrays"], rows)
    return lines


def _throughput_section(results: dict) -> list[str]:
    lines = ["## Throughput (million elements per second)", "",
             "NumPy arrays, passed to the module through `ffi.from_buffer`: wrapped once ahead "
             "of the calls, and wrapped anew in each call. The native loop calls the runtime "
             "from C++ on the same arrays, and once more as a control: its time over the "
             "first copy's shows how much the run's noise alone moves such a ratio. The floor "
             "extension, called from the same Python loop as the module, shows what returning "
             "to Python between calls costs any binding. Time over "
             "the native loop's is the median of the rounds' ratios; the speed-up is the "
             "module's (arrays wrapped once).", ""]
    rows = []
    for row in results["throughput"]:
        timings, count = row["timings"], row["count"]
        module = reported_seconds(timings, throughput.MODULE)
        reference = reported_seconds(timings, throughput.REFERENCE)
        rates = [f"{count / reported_seconds(timings, name) / 1e6:,.0f}"
                 for name in (throughput.MODULE, throughput.MODULE_WRAPPING, throughput.NATIVE,
                              throughput.REFERENCE)]
        excess = [f"{(_throughput_ratio(row, name) - 1) * 100:+.1f} %"
                  for name in (throughput.MODULE, throughput.MODULE_WRAPPING, throughput.FLOOR,
                               throughput.NATIVE_CONTROL)]
        rows.append([row["function"], f"{count:.0e}", *rates, *excess,
                     f"{reference / module:.2f}x", row["reference"]])
    lines += _table(["function", "count", "module", "module, from_buffer in the call",
                     "native loop", "NumPy/SciPy", "module time over native",
                     "module with from_buffer, time over native", "floor, time over native",
                     "native loop again, time over native (noise)",
                     "module speed-up over NumPy/SciPy", "NumPy/SciPy function"], rows)

    lines += ["### `vdAdd`: bytes moved per second against copy bandwidth", "",
              "vdAdd reads two arrays and writes one (24 bytes per element); `np.copyto` reads "
              "one and writes one (16 bytes per element), on arrays of the same count.", ""]
    rows = []
    for row in results["throughput"]:
        if row["function"] != "vdAdd":
            continue
        count, timings = row["count"], row["timings"]
        add_rate = 24 * count / reported_seconds(timings, throughput.MODULE) / 1e9
        copy_rate = 16 * count / reported_seconds(timings, throughput.COPY) / 1e9
        rows.append([f"{count:.0e}", f"{add_rate:,.1f}", f"{copy_rate:,.1f}",
                     f"{add_rate / copy_rate:.2f}"])
    lines += _table(["count", "vdAdd, module (GB/s)", "copy (GB/s)", "vdAdd / copy"], rows)
    return lines


def _other_sections(results: dict) -> list[str]:
    imports = results["import"]
    lines = ["## Import time in a fresh interpreter (ms)", "",
             f"The ABI-mode binding declares the same {results['offered_functions']} functions, "
             "with declarations derived from the catalogue.", ""]
    rows = [[name, f"{reported_seconds(imports, name) * 1e3:,.1f}"]
            for name in (import_time.BASELINE, import_time.MODULE, import_time.ABI,
                         import_time.ABI_CDEF, import_time.NUMPY_AND_MODULE,
                         import_time.WITH_VM, import_time.NUMPY_ALONE, import_time.VM_ALONE,
                         import_time.FIRST_NUMPY, import_time.FIRST_VM)]
    lines += _table(["what", "ms"], rows)

    lines += ["## Two threads against one (`vdExp`, runtime threading limited to one)", "",
              "Throughput of two threads over one. The floor releases and retakes the "
              "interpreter lock around each call like the module, with the least work under "
              "the lock; the native loop, on two OS threads, releases it once for the whole "
              "loop and shows how far the machine lets two threads scale during the run.", ""]
    rows = []
    for row in results["threads"]:
        one = 1 / reported_seconds(row["timings"], threads.ONE_THREAD)
        two = 1 / reported_seconds(row["timings"], threads.TWO_THREADS)
        floor = _thread_scaling(row, threads.FLOOR_ONE_THREAD, threads.FLOOR_TWO_THREADS)
        native = _thread_scaling(row, threads.NATIVE_ONE_THREAD, threads.NATIVE_TWO_THREADS)
        rows.append([f"{row['count']:.0e}", f"{one:,.0f}", f"{two:,.0f}",
                     f"{_thread_scaling(row):.2f}x", f"{floor:.2f}x", f"{native:.2f}x"])
    lines += _table(["count", "module, one thread (calls/s)", "module, two threads (calls/s)",
                     "module", "floor", "native loop"], rows)

    conversion = results["scratch"]
    cdata = reported_seconds(conversion["timings"], scratch.CDATA_MODULE)
    lines += [f"## Scratch conversion: `vdExp` on {conversion['count']:,} values (µs per call)",
              ""]
    rows = [[name, f"{reported_seconds(conversion['timings'], name) * 1e6:,.1f}",
             f"{reported_seconds(conversion['timings'], name) / cdata:.1f}x"]
            for name in (scratch.CDATA_MODULE, scratch.LIST_MODULE, scratch.LIST_ABI)]
    lines += _table(["input", "µs per call", "against the cdata array"], rows)

    vm = results["vm"]
    lines += ["## The NumPy layer `vm`", "",
              "Each pair ran interleaved in the same rounds; the ratio is the median of the "
              "rounds' ratios. Calls with the runtime's threads in use are timed by the wall "
              "clock.", ""]
    pairs = [(vm["one_element"], vm_calls.VM_ONE, vm_calls.NUMPY_ONE, 1e9, "ns"),
             (vm["one_element"], vm_calls.VM_ONE_OUT, vm_calls.FLOOR_ONE, 1e9, "ns"),
             (vm["one_element"], vm_calls.FLOOR_PLAIN_ONE, vm_calls.FLOOR_ONE, 1e9, "ns"),
             (vm["one_element"], vm_calls.VM_TEN_OUT, vm_calls.FLOOR_TEN, 1e9, "ns"),
             (vm["one_element"], vm_calls.VM_ADD_ONE, vm_calls.FLOOR_ADD_ONE, 1e9, "ns"),
             (vm["where"], vm_calls.WHERE_VM, vm_calls.WHERE_NUMPY, 1e6, "µs"),
             (vm["one_element"], vm_calls.VM_ONE_OUT, vm_calls.NUMPY_ONE_OUT, 1e9, "ns"),
             (vm["large"], vm_calls.VM_LARGE_OUT, vm_calls.LIB_LARGE, 1e6, "µs"),
             (vm["large"], vm_calls.VM_LARGE, vm_calls.LIB_LARGE, 1e6, "µs"),
             (vm["strided"], vm_calls.STRIDED, vm_calls.STRIDED_FLOOR, 1e6, "µs"),
             (vm["strided"], vm_calls.STRIDED, vm_calls.CONTIGUOUS, 1e6, "µs"),
             (vm["pack"], vm_calls.PACKV, vm_calls.INDEXING, 1e9, "ns"),
             (vm["underflow"], vm_calls.UNDERFLOW_VM, vm_calls.UNDERFLOW_NUMPY, 1e6, "µs"),
             (vm["underflow"], vm_calls.UNDERFLOW_FLOOR, vm_calls.UNDERFLOW_NUMPY, 1e6, "µs"),
             (vm["underflow"], vm_calls.UNDERFLOW_VM, vm_calls.UNDERFLOW_FLOOR, 1e6, "µs"),
             (vm["reduce"], vm_calls.REDUCE_VM, vm_calls.REDUCE_NUMPY, 1e6, "µs"),
             (vm["arithmetic"], vm_calls.ADD_VM, vm_calls.ADD_NUMPY, 1e6, "µs"),
             (vm["in_place"], vm_calls.IN_PLACE, vm_calls.OUT_OF_PLACE, 1e6, "µs"),
             (vm["scalar"], vm_calls.SCALAR_VM, vm_calls.TWO_ARRAYS_VM, 1e6, "µs"),
             (vm["scalar"], vm_calls.SCALAR_NUMPY, vm_calls.TWO_ARRAYS_NUMPY, 1e6, "µs")]
    rows = [[name, f"{reported_seconds(t, name) * scale:,.1f} {unit}", other,
             f"{reported_seconds(t, other) * scale:,.1f} {unit}",
             f"{paired_ratio(t, name, other):.2f}"] for t, name, other, scale, unit in pairs]
    lines += _table(["call", "time", "against", "time", "ratio"], rows)
    lines += [f"### vm with the runtime's {vm['cores']} threads against one", ""]
    rows = [[f"vm.{row['operation']}", f"{row['count']:.0e}",
             f"{reported_seconds(row['timings'], vm_calls.THREADS) * 1e6:,.1f}",
             f"{reported_seconds(row['timings'], vm_calls.ONE_THREAD) * 1e6:,.1f}",
             f"{_sweep_ratio(row):.2f}"]
            for row in vm["sweep"]]
    lines += _table(["call", "count", "threads (µs)", "one thread (µs)", "ratio"], rows)
    return lines


def markdown(results: dict) -> str:
    machine = results["machine"]
    lines = ["# Results", "",
             f"{machine['cpu']}, {machine['cores']} cores; Python {machine['python']}; "
             f"{machine['runtime']}; cffi {machine['cffi']}, NumPy {machine['numpy']}, "
             f"SciPy {machine['scipy']}. Runtime threading limited to one thread. "
             f"Run on {machine['date']} in {results['elapsed_s']:.0f} s"
             f"{' (quick sizes)' if results['quick'] else ''}.", "",
             "## Goals", ""]
    lines += _table(["goal", "target", "measured", "met"],
                    [[g["goal"], g["target"], g["measured"],
                      {True: "yes", False: "**no**", None: ""}[g["met"]]]
                     for g in results["goals"]])
    lines += _per_call_section(results)
    lines += _throughput_section(results)
    lines += _other_sections(results)
    return "\n".join(lines).rstrip() + "\n"
