"""The results as one PNG figure (needs matplotlib, from the `bench` extra)."""

from __future__ import annotations

from pathlib import Path

import per_call
import threads
import throughput
from harness import paired_ratio, reported_seconds


def _per_call(axis, results: dict) -> None:
    contenders = [per_call.MODULE, per_call.FLOOR, per_call.CTYPES, per_call.ABI, per_call.NUMPY,
                  per_call.RUNTIME_FROM_C]
    rows = results["per_call"]
    height = 0.8 / len(contenders)
    for index, contender in enumerate(contenders):
        positions, values = [], []
        for row_index, row in enumerate(rows):
            value = reported_seconds(row["timings"], contender)
            if value is not None:
                positions.append(row_index + index * height)
                values.append(value * 1e9)
        axis.barh(positions, values, height=height, label=contender)
    axis.set_yticks([i + 0.4 - height / 2 for i in range(len(rows))])
    axis.set_yticklabels([row["call"].split("(")[0] + "\n" + row["wrapper"] for row in rows],
                         fontsize=7)
    axis.invert_yaxis()
    axis.set_xlabel("ns per call (count 1)")
    axis.set_title("Per-call time")
    axis.legend(fontsize=7)


def _throughput(axis_ratio, axis_speedup, results: dict) -> None:
    functions = sorted({row["function"] for row in results["throughput"]},
                       key=[k.name for k in throughput.KERNELS].index)
    for function in functions:
        rows = [row for row in results["throughput"] if row["function"] == function]
        counts = [row["count"] for row in rows]
        module = [reported_seconds(row["timings"], throughput.MODULE) for row in rows]
        reference = [reported_seconds(row["timings"], throughput.REFERENCE) for row in rows]
        axis_ratio.plot(counts, [paired_ratio(row["timings"], throughput.MODULE,
                                              throughput.NATIVE) for row in rows],
                        marker="o", label=function)
        axis_speedup.plot(counts, [r / m for r, m in zip(reference, module)], marker="o",
                          label=function)
    axis_ratio.axhspan(0.98, 1.02, color="0.9", label="±2 %")
    axis_ratio.set_title("Module time / native loop time")
    axis_speedup.axhline(1.0, color="0.5", linewidth=0.8)
    axis_speedup.set_title("Module speed-up over NumPy/SciPy")
    for axis in (axis_ratio, axis_speedup):
        axis.set_xscale("log")
        axis.set_xlabel("count")
        axis.legend(fontsize=7)
    axis_ratio.set_yscale("log")
    axis_ratio.set_yticks([1, 1.1, 1.5, 2, 3, 5, 10])
    axis_ratio.set_yticklabels(["1", "1.1", "1.5", "2", "3", "5", "10"])
    axis_ratio.minorticks_off()


def _bars(axis, names: list[str], values: list[float], xlabel: str, title: str) -> None:
    axis.barh(range(len(names)), values, color="tab:gray")
    axis.set_yticks(range(len(names)))
    axis.set_yticklabels(names, fontsize=7)
    axis.invert_yaxis()
    axis.set_xlabel(xlabel)
    axis.set_title(title)


def _import(axis, results: dict) -> None:
    imports = results["import"]
    names = list(imports)
    _bars(axis, names, [reported_seconds(imports, name) * 1e3 for name in names],
          "ms, fresh interpreter", "Import time")
    axis.set_xscale("log")


def _threads(axis, results: dict) -> None:
    rows = results["threads"]
    positions = range(len(rows))
    for offset, (label, one, two) in enumerate((
            ("module", threads.ONE_THREAD, threads.TWO_THREADS),
            ("floor", threads.FLOOR_ONE_THREAD, threads.FLOOR_TWO_THREADS),
            ("native loop", threads.NATIVE_ONE_THREAD, threads.NATIVE_TWO_THREADS))):
        axis.bar([p + offset * 0.27 for p in positions],
                 [paired_ratio(row["timings"], one, two) for row in rows], width=0.27,
                 label=label)
    axis.axhline(2.0, color="0.5", linewidth=0.8)
    axis.set_xticks([p + 0.27 for p in positions])
    axis.set_xticklabels([f"vdExp({row['count']:.0e})" for row in rows], fontsize=7)
    axis.set_ylabel("throughput, two threads / one")
    axis.set_title("Two threads against one")
    axis.legend(fontsize=7)


def _scratch(axis, results: dict) -> None:
    timings = results["scratch"]["timings"]
    names = list(timings)
    _bars(axis, names, [reported_seconds(timings, name) * 1e6 for name in names],
          "µs per call", f"vdExp on {results['scratch']['count']:,} values")


def write_plot(results: dict, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(2, 3, figsize=(17, 9))
    _per_call(axes[0][0], results)
    _throughput(axes[0][1], axes[0][2], results)
    _import(axes[1][0], results)
    _threads(axes[1][1], results)
    _scratch(axes[1][2], results)
    figure.suptitle(f"vantrel.mkl.tessivec — {results['machine']['cpu']}", fontsize=10)
    figure.tight_layout()
    figure.savefig(path, dpi=80)
    plt.close(figure)
