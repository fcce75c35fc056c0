// The type table: the type context's one writable table, where the backend replaces a
// type's word with its type object as it builds the type. The module defines it; the
// wrappers read the backend's type objects from it.
#pragma once

#include "protocol/cffi_protocol.hpp"
#include "protocol/type_indexes.hpp"

namespace tessivec::protocol {

extern _cffi_opcode_t type_table[type_table_size];

}  // namespace tessivec::protocol
