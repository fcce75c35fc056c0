#include "bridge/mode_check.hpp"

namespace tessivec::bridge {

void refuse_mode(const char* function, unsigned long long mode) {
    PyErr_Format(PyExc_ValueError,
                 "%s: mode %#llx has accuracy field %llu, which the runtime does not define "
                 "(0, LA 1, HA 2 or EP 3)",
                 function, mode, mode & accuracy_field_mask);
}

}  // namespace tessivec::bridge
