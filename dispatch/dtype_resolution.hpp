// Which loop a call uses. The operands' dtypes promote as NumPy promotes them, a Python
// int, float or complex taking part by its kind only (so a float32 array and 2.0 stay
// float32); the first loop whose input type the promoted dtype casts to safely wins,
// as NumPy picks a ufunc loop.
#pragma once

#include <span>

#include "dispatch/loop.hpp"
#include "dispatch/numpy_api.hpp"

namespace tessivec::dispatch {

enum class Kind { none, boolean, integer, real, complex, other };

// The kind of a Python int, float or complex (not a bool, not a NumPy scalar), or none
// for any other object.
Kind python_scalar_kind(PyObject* object);

// The loop for the arrays (and NumPy scalars) `strong` and Python scalars of kind at
// most `weak`; nullptr with a TypeError naming the function and the dtype when no
// loop takes the promoted dtype.
const Loop* resolve_loop(PyObject* function_name, std::span<const Loop> loops,
                         std::span<PyArrayObject*> strong, Kind weak);

// The NumPy name of a loop type: float32, float64, complex64, complex128.
const char* type_name(int type_number);

}  // namespace tessivec::dispatch
