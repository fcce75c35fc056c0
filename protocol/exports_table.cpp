#include "protocol/exports_table.hpp"

namespace tessivec::protocol {

void* exports_table[exports_table_size] = {};

}  // namespace tessivec::protocol
