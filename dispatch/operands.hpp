// The arrays one runtime call reads and writes: inputs broadcast to the result's shape
// and made contiguous, aligned and native where they are not, outputs checked or made.
#pragma once

#include <array>
#include <span>

#include "dispatch/loop.hpp"
#include "dispatch/numpy_api.hpp"
#include "dispatch/reference.hpp"

namespace tessivec::dispatch {

struct Shape {
    int ndim = 0;
    std::array<npy_intp, NPY_MAXDIMS> dims{};

    npy_intp size() const;
};

// Widens `shape` by the array's shape as NumPy broadcasts; a ValueError naming the
// argument when they do not broadcast.
bool broadcast_into(Shape& shape, PyArrayObject* array, PyObject* function_name,
                    PyObject* argument_name);

// The input as a C-contiguous, aligned, native array of `type` and the result's shape:
// the array itself where it is one and shares no memory with an output (other than
// exactly, which the runtime computes in place), otherwise a copy.
Reference contiguous_input(PyArrayObject* array, int type, const Shape& shape,
                           std::span<const Reference> outputs, std::size_t output_size);

// Checks an `out` array the caller gave: an ndarray of the result's type and shape,
// writable, C-contiguous and aligned. `label` names it in messages (out, out[1]).
bool check_output(PyObject* out, int type, const Shape& shape, PyObject* function_name,
                  const char* label);

}  // namespace tessivec::dispatch
