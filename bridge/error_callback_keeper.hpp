// The runtime keeps the error callback of each thread by address and calls it on a
// later error; the Python object it came from must live at least as long. The thread's
// own state dict holds the object set through the module until it is replaced or
// cleared through the module, or the thread ends.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessivec::bridge {

// Holds `callback` for the calling thread, or lets go of the held one when it is
// nullptr. Returns false with an exception set if the object cannot be held.
bool keep_error_callback(PyObject* callback);

}  // namespace tessivec::bridge
