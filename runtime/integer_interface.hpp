// Counts, increments and index arrays travel as 32-bit integers. The runtime reads
// them as 64-bit ones when its interface layer is ILP64 (chosen by MKL_INTERFACE_LAYER
// or by a call before ours), and then misreads every count: by reference it reads past
// the integer, by value it reads garbage in the upper half.
#pragma once

namespace tessivec::runtime {

// Makes sure the runtime uses its 32-bit integer interface. Returns false with
// ImportError set when the environment or earlier code has chosen the 64-bit one.
bool select_32bit_integer_interface();

}  // namespace tessivec::runtime
