#include "module/exports_table.hpp"

namespace tessivec::module {

void* exports_table[exports_table_size] = {};

}  // namespace tessivec::module
