#include "bridge/mode_check.hpp"

#include <cstdio>

namespace tessivec::bridge {

void refuse_mode(const char* function, unsigned long long mode) {
    char hexadecimal[24];
    std::snprintf(hexadecimal, sizeof hexadecimal, "%#llx", mode);
    PyErr_Format(PyExc_ValueError,
                 "%s: mode %s has accuracy field %d, which the runtime does not define "
                 "(0, LA 1, HA 2 or EP 3)",
                 function, hexadecimal, static_cast<int>(mode & accuracy_field_mask));
}

}  // namespace tessivec::bridge
