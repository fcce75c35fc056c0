"""Several Python threads calling at once: results stay right, callbacks stay apart."""

import math

from runtime_values import ERRMODE_CALLBACK, HA
from threads import on_threads

THREADS = 4
CALLS = 2000


def test_concurrent_calls_give_each_thread_its_results(ffi, lib):
    def work(index):
        n = 64
        x = ffi.new("double[]", [index + i / n for i in range(n)])
        r = ffi.new("double[]", n)
        for call in range(CALLS):
            if call % 2:
                lib.vdAdd(n, x, x, r)
                assert r[n - 1] == 2 * x[n - 1]
            else:
                lib.VDEXP([n], list(x), r)  # a converted list: scratch of its own
                assert r[0] == math.exp(index)

    on_threads(THREADS, work)


def test_error_callbacks_from_several_threads(ffi, lib):
    seen = [[] for _ in range(THREADS)]

    def work(index):
        lib.vmlSetMode(HA | ERRMODE_CALLBACK)

        @ffi.callback("VMLErrorCallBack")
        def on_error(context):
            seen[index].append(context.dbA1)
            return 0

        lib.vmlSetErrorCallBack(on_error)
        bad = ffi.new("double[]", [-1.0 - index])
        out = ffi.new("double[1]")
        for _ in range(CALLS // 4):
            lib.vdLn(1, bad, out)
        lib.vmlClearErrorCallBack()

    on_threads(THREADS, work)
    for index, values in enumerate(seen):
        assert values == [-1.0 - index] * (CALLS // 4)
