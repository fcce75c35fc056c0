// The static description of everything the module offers, handed to the backend at
// registration. The type table is the one writable table: the backend replaces a
// type's word with its type object when it builds the type.
#pragma once

#include "module/cffi_protocol.hpp"
#include "module/type_indexes.hpp"

namespace tessivec::module {

extern _cffi_opcode_t type_table[type_table_size];
extern const _cffi_global_s globals_table[globals_table_size];
extern const _cffi_type_context_s type_context;

}  // namespace tessivec::module
