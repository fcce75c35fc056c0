// One entry per offered function, in byte order of the names: the backend finds a
// name by bisection and builds the function from its wrapper, calling kind and type.
#include "bridge/direct_call.hpp"
#include "bridge/python_wrapper.hpp"
#include "module/globals_table.hpp"
#include "runtime/runtime_functions.hpp"

namespace tessivec::module {

using namespace tessivec::runtime;
using bridge::DirectCall;
using bridge::Family;
using bridge::python_wrapper;
using bridge::Role;

const _cffi_global_s globals_table[globals_table_size] = {
#include "module/globals_table_entries.inc"
};

}  // namespace tessivec::module
