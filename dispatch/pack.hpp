// vm's gather and scatter functions, packi, packv, packm, unpacki, unpackv and
// unpackm: arrays in, the runtime's by-value functions called directly. An index or
// mask is refused before it is copied where its size is wrong; the increment, indexes
// and mask are then copied and the copies checked, by the reach rules lib's length
// checks apply, so that the runtime reads exactly the values checked.
#pragma once

#include "dispatch/numpy_api.hpp"

namespace tessivec::dispatch {

// The methods of the extension module for the six functions.
extern PyMethodDef pack_methods[6];

}  // namespace tessivec::dispatch
