"""No size a caller gives ends the process: an index or mask of the wrong length is
refused before it is copied, an impossible size gives MemoryError, and an allocation
that fails inside the extension becomes MemoryError at the boundary. Each case runs in
its own interpreter: on failure the process would abort."""

import pytest

from isolated import SANITIZED, report, run_isolated

HUGE = "np.broadcast_to(np.int64(0), (2**40,))"  # a trillion positions, 8 bytes of memory


@pytest.mark.parametrize("call, error, message", [
    (f"vm.packv(np.ones(4), {HUGE})", MemoryError, ""),
    (f"vm.unpackv(np.ones(4), {HUGE}, np.zeros(4))", ValueError,
     "vm.unpackv: index has 1099511627776 elements, a has 4"),
    (f"vm.packm(np.ones(4), {HUGE})", ValueError,
     "vm.packm: mask has 1099511627776 elements, a has 4"),
    (f"vm.unpackm(np.ones(4), {HUGE}, np.zeros(4))", ValueError,
     "vm.unpackm: mask has 1099511627776 elements, out has 4"),
], ids=["packv", "unpackv", "packm", "unpackm"])
def test_a_broadcast_index_or_mask_of_a_trillion_positions(call, error, message):
    run = run_isolated(f"""
        import numpy as np
        from vantrel.mkl import vm
        try:
            {call}
        except {error.__name__} as raised:
            print("refused:", raised)
    """, asan_options="allocator_may_return_null=1")
    assert run.returncode == 0 and "refused:" in run.stdout, report(run)
    assert message in run.stdout


def test_an_allocation_failing_in_the_extension_raises_memory_error():
    """packv's result (4 bytes per position) fits in the memory left, its private copy
    of the index (8 bytes per position) does not."""
    limit = ("" if SANITIZED else """
        import resource
        with open("/proc/self/status") as status:
            size = next(int(line.split()[1]) * 1024 for line in status
                        if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + (3 << 29), resource.RLIM_INFINITY))
    """)
    run = run_isolated("""
        import numpy as np
        from vantrel.mkl import vm
        index = np.broadcast_to(np.int64(0), (2**28,))
        out = np.empty(2**28, np.float32)
    """ + limit + """
        try:
            vm.packv(np.ones(4, np.float32), index, out=out)
        except MemoryError:
            print("refused: MemoryError")
    """, asan_options="allocator_may_return_null=1:max_allocation_size_mb=1536")
    assert run.returncode == 0 and "refused: MemoryError" in run.stdout, report(run)


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's allocator reserves its own memory")
def test_the_loops_compute_where_their_buffer_cannot_be_had():
    """A strided call goes through a buffer of the inner loop's thread; where the memory
    for it is not left, it goes through a small one on the stack, with the same bits."""
    run = run_isolated("""
        import resource
        import numpy as np
        from vantrel.mkl import _dispatch, vm
        # The OpenMP runtime ends the process where it cannot start its threads: the
        # calls stay on this one.
        _dispatch.set_sharing("never")
        x = np.linspace(-3.0, 3.0, 2 * 40_000)[::2]
        expected = vm.exp(np.ascontiguousarray(x))
        first, second = np.empty_like(expected), np.empty_like(expected)
        with open("/proc/self/status") as status:
            size = next(int(line.split()[1]) * 1024 for line in status
                        if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + (1 << 16), resource.RLIM_INFINITY))
        vm.exp(x, out=first)
        vm.add(x, x, out=second)
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY,) * 2)
        print(first.tobytes() == expected.tobytes(),
              second.tobytes() == (np.ascontiguousarray(x) * 2).tobytes())
    """)
    assert run.returncode == 0 and run.stdout.split() == ["True", "True"], report(run)
