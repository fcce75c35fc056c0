// The runtime's named mode values and status codes, generated from the catalogue.
#pragma once

namespace tessivec::dispatch::mode_values {

#define MODE_VALUES_ONLY
#include "dispatch/loop_table.inc"
#undef MODE_VALUES_ONLY

}  // namespace tessivec::dispatch::mode_values
