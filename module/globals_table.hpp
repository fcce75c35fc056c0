// The globals table: one entry per offered function (module/globals_table.cpp).
#pragma once

#include "module/globals_count.hpp"
#include "protocol/cffi_protocol.hpp"

namespace tessivec::module {

extern const _cffi_global_s globals_table[globals_table_size];

}  // namespace tessivec::module
