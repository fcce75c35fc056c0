// The backend's conversion entry points, written into this table by the backend
// during registration and read by the wrappers at every use.
#pragma once

#include "protocol/cffi_protocol.hpp"

namespace tessivec::protocol {

extern void* exports_table[exports_table_size];

}  // namespace tessivec::protocol
