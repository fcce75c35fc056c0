// The runtime's named mode values and status codes, generated from the catalogue.
#pragma once

#include "runtime/mode_values.hpp"

namespace tessivec::dispatch {

namespace mode_values = runtime::mode_values;

}  // namespace tessivec::dispatch
