"""Runs in a subprocess with the recording runtime preloaded (see recording.py): calls
every vm ufunc, in the thread's accuracy and in each of vm.la, vm.ha and vm.ep, on every
loop, and prints what the runtime received, as JSON."""

import json

import numpy as np
from vantrel.mkl import vm
from vantrel.mkl._catalogue.vm_interface import vm_functions

from recording import Recorder

N = 4  # the recorder reads and writes this many elements of each array


def main():
    recorder = Recorder()
    observed = {}
    for function in vm_functions():
        if function.is_pack:
            continue
        for loop in function.loops:
            arrays = [np.ones(N, loop.input_dtype) for p in function.positional
                      if p.role.array]
            scalars = [np.ones(N, loop.input_dtype) for p in function.positional
                       if not p.role.array]
            for accuracy in ("thread", "la", "ha", "ep"):
                ufunc = getattr(vm if accuracy == "thread" else getattr(vm, accuracy),
                                function.name)
                _, error, calls = recorder.record(lambda: ufunc(*arrays, *scalars[:1],
                                                                *[s[0] for s in scalars[1:]]))
                math_calls = [c for c in calls if not c.symbol.startswith("vml")]
                observed[f"{function.name}-{loop.letter}-{accuracy}"] = {
                    "error": repr(error) if error else None,
                    "symbols": [c.symbol for c in math_calls],
                    "counts": [c.arguments[0].value for c in math_calls],
                    "modes": [c.arguments[-1].value for c in math_calls],
                }
    print(json.dumps(observed))


if __name__ == "__main__":
    main()
