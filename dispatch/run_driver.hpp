// Drives one inner-loop call of a vm ufunc: cuts the elements NumPy hands over into
// runs the runtime takes in one call, passes each operand as the runtime wants it, and
// reports the conditions the call met on the calling thread.
#pragma once

#include <cstddef>

#include "dispatch/numpy_api.hpp"
#include "dispatch/run_shape.hpp"

namespace tessivec::dispatch {

// Allocates nothing that throws (a buffer that cannot be had is replaced by one on the
// stack), so that no exception reaches NumPy's loop or the runtime's OpenMP region.
void run(const Shape& shape, RuntimeCall call, char** args, npy_intp count,
         const npy_intp* steps, const LoopSetting& setting) noexcept;

// The most elements one runtime call is given (at most 2**31 - 1); smaller in tests.
npy_intp run_limit();
void set_run_limit(npy_intp elements);

// The elements a strided operand is copied through, per run: enough that the runtime's
// cost per call is small against the run's, few enough that the buffers stay in the
// core's cache between the copy and the runtime reading them. (Measured on one thread of
// an Intel Xeon: with 2**14 elements vm.exp on a strided view of 10^6 took 1.9x the
// contiguous time, 2**16 2.0 to 2.5x, 2**18 2.4 to 4.2x; the copy reads twice the bytes
// of the contiguous call and bounds it.)
inline constexpr npy_intp buffer_elements = npy_intp{1} << 14;

// A buffered call of at least shared_from elements is shared among as many of the
// runtime's threads as it may use, in parts of whole buffers, at least parallel_part
// elements each and at most max_parts of them. Many parts against few threads keep
// every thread busy to the end: 7 parts of 10^6 elements on 2 threads left one idle
// for a seventh of the call (1.6x the contiguous time against 1.35x with 31 parts).
// So is a contiguous call whose conditions only the computing thread's flags show.
inline constexpr npy_intp shared_from = npy_intp{1} << 16;
inline constexpr npy_intp parallel_part = npy_intp{1} << 15;
inline constexpr int max_parts = 64;

// How many calls have been shared among threads, for the process's life.
long calls_shared();

}  // namespace tessivec::dispatch
