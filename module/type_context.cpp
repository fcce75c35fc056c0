#include "module/type_context.hpp"

#include <cstddef>
#include <iterator>

#include "module/globals_table.hpp"
#include "protocol/type_table.hpp"
#include "runtime/runtime_records.hpp"

namespace tessivec::protocol {

_cffi_opcode_t type_table[type_table_size] = {
#include "module/type_table_words.inc"
};

}  // namespace tessivec::protocol

namespace tessivec::module {

using namespace tessivec::runtime;
using protocol::type_table;
using protocol::type_table_size;

namespace {

#include "module/record_tables.inc"

}  // namespace

const _cffi_type_context_s type_context = {
    type_table,
    globals_table,
    fields_table,
    records_table,
    nullptr,  // no enumerations
    type_names_table,
    globals_table_size,
    static_cast<int>(std::size(records_table)),
    0,
    static_cast<int>(std::size(type_names_table)),
    nullptr,  // no types come from other modules
    type_table_size,
    0,
};

}  // namespace tessivec::module
