// Runs a loop over whole arrays in strips: the runtime's element count is a 32-bit int,
// so larger arrays take several calls. The interpreter lock is released around the
// calls, and the runtime's status is watched across them.
#pragma once

#include <span>

#include "dispatch/loop.hpp"
#include "dispatch/numpy_api.hpp"
#include "dispatch/reference.hpp"

namespace tessivec::dispatch {

// The most elements one runtime call is given; lowered only to test the strips.
npy_intp strip_limit();
void set_strip_limit(npy_intp elements);

// Calls the loop's plain form (or its m form with `mode`, when `mode` is given) on
// every strip, then reports the conditions the runtime raised. False with an exception
// set when the call fails.
bool run_strips(const Loop& loop, const long long* mode, std::span<const Reference> inputs,
                std::span<const Reference> outputs, const std::byte* scalars, npy_intp size,
                PyObject* function_name);

}  // namespace tessivec::dispatch
