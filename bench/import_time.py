"""Import time in fresh interpreters: the module, against an ABI-mode binding that
declares the same functions, and against the least any CFFI-based binding pays (the
backend imported and the runtime library loaded). Every variant runs once before the
timed rounds, so the runtime library is in the page cache for all of them."""

from __future__ import annotations

import json
import subprocess
import sys
import tempfile
from pathlib import Path

from abi_binding import declarations
from harness import Timing, interleave
from runtime_library import runtime_path

MODULE = "import vantrel.mkl.tessivec"
BASELINE = "import _cffi_backend + load the runtime"
ABI = "ABI-mode binding (cdef + dlopen)"
ABI_CDEF = "ABI-mode cdef alone"
NUMPY_AND_MODULE = "import numpy, vantrel.mkl.tessivec"
WITH_VM = "import numpy, vantrel.mkl.tessivec, vantrel.mkl.vm"
NUMPY_ALONE = "import numpy"
VM_ALONE = "import numpy, vantrel.mkl.vm"
FIRST_VM = "first call: vm.exp(x), 1 element, after the imports"
FIRST_NUMPY = "first call: np.exp(x), 1 element, after the import"

CHILD = """\
import json, sys, time
declarations, library = open(sys.argv[1]).read(), sys.argv[2]
marks = {{}}
began = time.perf_counter()
{body}
marks["total"] = time.perf_counter() - began
print(json.dumps(marks))
"""

BODIES = {
    MODULE: "import vantrel.mkl.tessivec",
    BASELINE: "import _cffi_backend\n_cffi_backend.load_library(library)",
    ABI: ("import cffi\nffi = cffi.FFI()\ncdef_began = time.perf_counter()\n"
          "ffi.cdef(declarations)\nmarks['cdef'] = time.perf_counter() - cdef_began\n"
          "lib = ffi.dlopen(library)"),
    NUMPY_AND_MODULE: "import numpy, vantrel.mkl.tessivec",
    WITH_VM: "import numpy, vantrel.mkl.tessivec, vantrel.mkl.vm",
    NUMPY_ALONE: "import numpy",
    VM_ALONE: "import numpy, vantrel.mkl.vm",
    # Only the call is timed: the clock starts again after the imports.
    FIRST_VM: ("import numpy as np, vantrel.mkl.vm as vm\nx = np.ones(1)\n"
               "began = time.perf_counter()\nvm.exp(x)"),
    FIRST_NUMPY: "import numpy as np\nx = np.ones(1)\nbegan = time.perf_counter()\nnp.exp(x)",
}


class ImportBench:
    def run(self, rounds: int) -> dict:
        with tempfile.TemporaryDirectory() as folder:
            declarations_file = Path(folder) / "declarations.h"
            declarations_file.write_text(declarations())
            cdef_seconds: list[float] = []

            def batch_of(body: str):
                command = [sys.executable, "-c", CHILD.format(body=body),
                           str(declarations_file), str(runtime_path())]

                def run() -> float:
                    output = subprocess.run(command, capture_output=True, text=True, check=True)
                    marks = json.loads(output.stdout)
                    if "cdef" in marks:
                        cdef_seconds.append(marks["cdef"])
                    return marks["total"]
                return run

            timings = interleave({name: batch_of(body) for name, body in BODIES.items()},
                                 rounds)
            # The first cdef figure is the warm-up's.
            cdef = cdef_seconds[1:] or cdef_seconds
        result = {name: t.as_json() for name, t in timings.items()}
        result[ABI_CDEF] = Timing(cdef).as_json()
        return result
