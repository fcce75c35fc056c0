// The backend's published layouts and numbering for out-of-line modules, and the
// constants of the protocol version this module speaks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parse_c_type.h"

// The backend's type object; the module only passes it back to the backend.
struct _cffi_ctypedescr;

namespace tessivec::protocol {

inline constexpr std::intptr_t protocol_version = 0x2601;

// The number of exports-table slots of that version.
inline constexpr std::size_t exports_table_size = 26;

}  // namespace tessivec::protocol
