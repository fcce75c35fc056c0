"""Two Python threads calling vdExp on separate arrays, against one thread: the wrapper
releases the interpreter lock around the runtime call, so the calls should overlap.
The floor extension does the same with the least work under the lock; the native loop
(entered through ctypes, which releases the lock once for the whole loop) shows how far
two threads can scale on the machine at that moment.
The runtime's own threading is limited to one thread while this runs."""

from __future__ import annotations

import threading
import time

import numpy as np

from harness import interleave
from runtime_library import set_runtime_threads

ONE_THREAD = "module, one thread"
TWO_THREADS = "module, two threads"
FLOOR_ONE_THREAD = "floor, one thread"
FLOOR_TWO_THREADS = "floor, two threads"
NATIVE_ONE_THREAD = "native loop, one thread"
NATIVE_TWO_THREADS = "native loop, two threads"


class ThreadsBench:
    def __init__(self, lib, ffi, floor, native):
        self.lib, self.ffi, self.floor, self.native = lib, ffi, floor, native

    def _worker_arrays(self, count: int, seed: int):
        values = np.random.default_rng(seed).uniform(-5.0, 5.0, count)
        result = np.empty(count)
        # Held with the arrays, so that the cdata views stay valid while the worker runs.
        return (values, result, self.ffi.from_buffer("double[]", values),
                self.ffi.from_buffer("double[]", result, require_writable=True))

    @staticmethod
    def _python_work(function, count: int, calls: int):
        def work(arrays):
            _, _, source, target = arrays
            for _ in range(calls):
                function(count, source, target)
        return work

    def _native_work(self, count: int, calls: int):
        entry = self.native.native_vdExp

        def work(arrays):
            values, result, _, _ = arrays
            entry(count, values.ctypes.data, result.ctypes.data, calls)
        return work

    @staticmethod
    def _batch(work, calls: int, workers: list):
        """A batch: every worker runs `work` on its own arrays, started together; the
        result is the seconds per call of all workers together."""
        def run() -> float:
            start = threading.Barrier(len(workers) + 1)

            def thread_body(arrays):
                start.wait()
                work(arrays)

            threads = [threading.Thread(target=thread_body, args=(arrays,))
                       for arrays in workers]
            for thread in threads:
                thread.start()
            start.wait()
            began = time.perf_counter()
            for thread in threads:
                thread.join()
            return (time.perf_counter() - began) / (calls * len(workers))
        return run

    def run(self, counts, batch_seconds: float, rounds: int) -> list[dict]:
        previous = set_runtime_threads(1)
        try:
            results = []
            for count in counts:
                workers = [self._worker_arrays(count, seed) for seed in (1, 2)]
                probe = self._batch(self._python_work(self.lib.vdExp, count, 100), 100,
                                    workers[:1])()
                calls = max(1, round(batch_seconds / probe))
                module = self._python_work(self.lib.vdExp, count, calls)
                floor = self._python_work(self.floor.vdExp, count, calls)
                native = self._native_work(count, calls)
                batches = {ONE_THREAD: self._batch(module, calls, workers[:1]),
                           TWO_THREADS: self._batch(module, calls, workers),
                           FLOOR_ONE_THREAD: self._batch(floor, calls, workers[:1]),
                           FLOOR_TWO_THREADS: self._batch(floor, calls, workers),
                           NATIVE_ONE_THREAD: self._batch(native, calls, workers[:1]),
                           NATIVE_TWO_THREADS: self._batch(native, calls, workers)}
                timings = interleave(batches, rounds)
                results.append({"function": "vdExp", "count": count, "calls_per_thread": calls,
                                "timings": {name: t.as_json() for name, t in timings.items()}})
            return results
        finally:
            set_runtime_threads(previous)
