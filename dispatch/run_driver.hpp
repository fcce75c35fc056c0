// Drives one inner-loop call of a vm ufunc: cuts the elements NumPy hands over into
// runs the runtime takes in one call, passes each operand as the runtime wants it, and
// reports the conditions the call met on the calling thread.
#pragma once

#include <cstddef>

#include "dispatch/numpy_api.hpp"
#include "dispatch/run_shape.hpp"
#include "dispatch/thread_choice.hpp"

namespace tessivec::dispatch {

// Allocates nothing that throws (a buffer that cannot be had is replaced by one on the
// stack), so that no exception reaches NumPy's loop or the runtime's OpenMP region.
// `choice`: the loop's, whose earlier calls tell whether sharing this one pays.
void run(const Shape& shape, RuntimeCall call, char** args, npy_intp count,
         const npy_intp* steps, const LoopSetting& setting, ThreadChoice& choice) noexcept;

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

// A shared call goes in parts of at least parallel_part elements, at most max_parts of
// them. Many parts against few threads keep every thread busy to the end: 7 parts of
// 10^6 elements on 2 threads left one idle for a seventh of the call (1.6x the
// contiguous time against 1.35x with 31 parts).
inline constexpr npy_intp parallel_part = npy_intp{1} << 13;
inline constexpr int max_parts = 64;

// How many calls have been shared among threads, for the process's life.
long calls_shared();

}  // namespace tessivec::dispatch
