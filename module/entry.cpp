// The module's only export. It builds no module object itself: it hands the backend
// a registration block and returns the module the backend builds from the tables.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "common/reference.hpp"
#include "protocol/exports_table.hpp"
#include "module/type_context.hpp"
#include "runtime/integer_interface.hpp"

namespace {

constexpr char qualified_name[] = "vantrel.mkl.tessivec";

}  // namespace

PyMODINIT_FUNC PyInit_tessivec(void) {
    using namespace tessivec::module;
    using tessivec::protocol::exports_table;
    using tessivec::protocol::protocol_version;

    if (!tessivec::runtime::select_32bit_integer_interface()) {
        return nullptr;
    }

    // Lives only during the registration call; the backend copies what it keeps.
    void* registration_block[4] = {
        const_cast<char*>(qualified_name),
        reinterpret_cast<void*>(protocol_version),
        exports_table,
        const_cast<_cffi_type_context_s*>(&type_context),
    };

    tessivec::common::Reference backend(PyImport_ImportModule("_cffi_backend"));
    if (!backend) {
        return nullptr;
    }
    tessivec::common::Reference block_address(PyLong_FromVoidPtr(registration_block));
    if (!block_address) {
        return nullptr;
    }
    return PyObject_CallMethod(backend.get(), "_init_cffi_1_0_external_module", "O",
                               block_address.get());
}
