// The static description of everything the module offers, handed to the backend at
// registration: the type context and the tables it points to (the type table among
// them, protocol/type_table.hpp).
#pragma once

#include "protocol/type_table.hpp"

namespace tessivec::module {

extern const _cffi_global_s globals_table[protocol::globals_table_size];
extern const _cffi_type_context_s type_context;

}  // namespace tessivec::module
