"""What the wrapper checks is what the runtime reads: a second thread that changes an
index array, a mask, a count or an increment after the check cannot widen the runtime's
reach, and a count or increment at the very end of readable memory is read safely."""

import ctypes
import mmap
import threading
import time

import pytest

from runtime_values import ACCURACY_MASK, LA, STATUS_ERRDOM

CANARY = -7.25
CANARY_ELEMENTS = 64
RACE_SECONDS = 1.0


class Canaried:
    """A `double[n]` array with its length known to the wrapper, followed by canary
    elements that no checked call may write."""

    def __init__(self, ffi, n):
        self.n = n
        self.memory = ffi.new("double[]", [0.0] * n + [CANARY] * CANARY_ELEMENTS)
        self.array = self.memory[0:n]

    def intact(self):
        return all(self.memory[i] == CANARY for i in range(self.n, self.n + CANARY_ELEMENTS))


class Flipper:
    """A thread that rewrites the last entries of an int array between two contents for
    as long as the race lasts, through the runtime's own copy (vsPackI), without the
    interpreter lock."""

    def __init__(self, ffi, lib, target, good, bad):
        first = next(i for i, (g, b) in enumerate(zip(good, bad)) if g != b)
        self.lib, self.n = lib, len(good) - first
        self.target = ffi.cast("float *", target) + first
        self.contents = [ffi.new("int[]", contents[first:]) for contents in (bad, good)]
        self.sources = [ffi.cast("float *", contents) for contents in self.contents]
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run)
        lib.vsPackI(self.n, self.sources[0], 1, self.target)  # the copy is bit for bit
        assert list(ffi.cast("int *", target)[0:len(bad)]) == list(bad)
        lib.vsPackI(self.n, self.sources[1], 1, self.target)

    def run(self):
        while not self.stop.is_set():
            for source in self.sources:
                self.lib.vsPackI(self.n, source, 1, self.target)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()


def race(call, canaried, flipper):
    """Calls for RACE_SECONDS while the flipper runs; True if the canary survived. A call
    refused because it saw the wide contents is a right answer."""
    deadline = time.monotonic() + RACE_SECONDS
    with flipper:
        while time.monotonic() < deadline and canaried.intact():
            try:
                call()
            except ValueError:
                pass
    return canaried.intact()


N = 1 << 16


def test_an_index_array_changed_after_the_check(ffi, lib):
    y = Canaried(ffi, N)
    indexes = ffi.new("int[]", list(range(N)))
    wide = list(range(N - 1)) + [N + 3]
    a = ffi.new("double[]", [1.0] * N)
    flipper = Flipper(ffi, lib, indexes, list(range(N)), wide)
    assert race(lambda: lib.vdUnpackV(N, a, y.array, indexes), y, flipper)


def test_a_mask_changed_after_the_check(ffi, lib):
    narrow = [1, 0] * (N // 2)
    y = Canaried(ffi, N // 2)
    mask = ffi.new("int[]", narrow)
    a = ffi.new("double[]", [1.0] * N)
    flipper = Flipper(ffi, lib, mask, narrow, narrow[:-16] + [1] * 16)
    assert race(lambda: lib.vdPackM(N, a, mask, y.array), y, flipper)


@pytest.mark.parametrize("name", ["vdexp", "VDEXP"])
def test_a_count_changed_after_the_check(ffi, lib, name):
    r = Canaried(ffi, N)
    count = ffi.new("int[1]", [N])
    a = ffi.new("double[]", N + CANARY_ELEMENTS)
    flipper = Flipper(ffi, lib, count, [N], [N + 8])
    assert race(lambda: getattr(lib, name)(count, a, r.array), r, flipper)


def test_an_increment_changed_after_the_check(ffi, lib):
    n = CANARY_ELEMENTS
    y = Canaried(ffi, n)
    increment = ffi.new("int[1]", [1])
    a = ffi.new("double[]", [1.0] * n)
    flipper = Flipper(ffi, lib, increment, [1], [2])
    assert race(lambda: lib.vdunpacki([n], a, y.array, increment), y, flipper)


@pytest.fixture
def last_readable_int(ffi):
    """The address of the last int before a page that cannot be read."""
    page = mmap.PAGESIZE
    memory = mmap.mmap(-1, 2 * page)
    start = ctypes.addressof(ctypes.c_char.from_buffer(memory))
    libc = ctypes.CDLL(None, use_errno=True)
    libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
    assert libc.mprotect(start + page, page, 0) == 0  # no access
    yield start + page - ctypes.sizeof(ctypes.c_int)
    assert libc.mprotect(start + page, page, mmap.PROT_READ | mmap.PROT_WRITE) == 0


def test_counts_and_increments_at_the_end_of_readable_memory(ffi, lib, clean_runtime_state,
                                                             last_readable_int):
    value = ffi.cast("int *", last_readable_int)
    x, r = ffi.new("double[]", [0.0, 1.0]), ffi.new("double[2]")
    value[0] = 2
    lib.vdexp(value, x, r)
    assert r[1] > 2.7
    value[0] = 1
    lib.vdpacki([2], x, value, r)  # the increment
    lib.VDUNPACKI([2], x, r, value)
    assert list(r) == [0.0, 1.0]
    value[0] = LA  # a mode and a status too
    lib.vmlsetmode(ffi.cast("unsigned int *", value))
    assert lib.vmlGetMode() & ACCURACY_MASK == LA
    value[0] = STATUS_ERRDOM
    lib.vmlseterrstatus(value)
    assert lib.vmlGetErrStatus() == STATUS_ERRDOM
