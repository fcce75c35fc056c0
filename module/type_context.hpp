// The static description of everything the module offers, handed to the backend at
// registration: the type context, which points to the tables (the type table among
// them, protocol/type_table.hpp, and the globals table, module/globals_table.hpp).
#pragma once

#include "protocol/cffi_protocol.hpp"

namespace tessivec::module {

extern const _cffi_type_context_s type_context;

}  // namespace tessivec::module
