// The backend's conversion entry points, written into this table by the backend
// during registration and read by the wrappers at every use.
#pragma once

#include "module/cffi_protocol.hpp"

namespace tessivec::module {

extern void* exports_table[exports_table_size];

}  // namespace tessivec::module
