"""A list input, which the module converts into a scratch area for the call, against the
same values already in a cdata array; the ABI-mode binding converts the same list."""

from __future__ import annotations

from harness import calls_for, interleave, python_batch

LIST_MODULE = "list, module"
CDATA_MODULE = "cdata array, module"
LIST_ABI = "list, ABI-mode CFFI"


class ScratchBench:
    def __init__(self, lib, ffi, abi_lib, abi_ffi):
        self.lib, self.ffi = lib, ffi
        self.abi_lib, self.abi_ffi = abi_lib, abi_ffi

    def run(self, count: int, batch_seconds: float, rounds: int) -> dict:
        values = [0.5 + i / count for i in range(count)]
        module = {"f": self.lib.vdExp, "n": count, "r": self.ffi.new("double[]", count)}
        abi = {"f": self.abi_lib.vdExp, "n": count, "r": self.abi_ffi.new("double[]", count)}
        statements = {
            LIST_MODULE: ({**module, "a": values}, "f(n, a, r)"),
            CDATA_MODULE: ({**module, "a": self.ffi.new("double[]", values)}, "f(n, a, r)"),
            LIST_ABI: ({**abi, "a": values}, "f(n, a, r)"),
        }
        batches = {}
        for name, (names, statement) in statements.items():
            def batch_of(calls, names=names, statement=statement):
                return python_batch(statement, names, calls)
            batches[name] = batch_of(calls_for(batch_of, batch_seconds))
        timings = interleave(batches, rounds)
        return {"function": "vdExp", "count": count,
                "timings": {name: t.as_json() for name, t in timings.items()}}
