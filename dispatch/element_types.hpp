// Each precision's element type as vm knows it, generated from the catalogue's precisions
// (dispatch/tables.py): its NumPy type number, its letter, whether it is complex, and the
// real type of its parts.
#pragma once

#include "dispatch/numpy_api.hpp"
#include "runtime/runtime_records.hpp"

namespace tessivec::dispatch {

#include "dispatch/element_types.inc"

}  // namespace tessivec::dispatch
