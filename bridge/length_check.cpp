#include "bridge/length_check.hpp"

namespace tessivec::bridge {

void refuse_short_argument(const char* function, std::size_t position, Py_ssize_t capacity,
                           const Requirement& needed) {
    if (needed.kind == Requirement::before_start) {
        PyErr_Format(PyExc_ValueError, "%s: %s %lld would reach before the start of argument %zu",
                     function, needed.cause, needed.cause_value, position + 1);
    } else {
        PyErr_Format(PyExc_ValueError, "%s: argument %zu holds %zd element%s, but the call needs %lld",
                     function, position + 1, capacity, capacity == 1 ? "" : "s", needed.count);
    }
}

}  // namespace tessivec::bridge
