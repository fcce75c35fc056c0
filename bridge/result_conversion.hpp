// How a runtime function's result becomes the wrapper's Python result.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "protocol/backend_entry_points.hpp"
#include "protocol/type_objects.hpp"
#include "runtime/runtime_records.hpp"

namespace tessivec::bridge {

namespace backend = protocol::backend;
using protocol::type_object;

inline PyObject* python_result() {
    Py_INCREF(Py_None);
    return Py_None;
}

inline PyObject* python_result(int result) { return PyLong_FromLong(result); }

inline PyObject* python_result(unsigned int result) { return PyLong_FromUnsignedLong(result); }

inline PyObject* python_result(runtime::VMLErrorCallBack result) {
    return backend::from_c_pointer(reinterpret_cast<char*>(result),
                                   type_object<runtime::VMLErrorCallBack>());
}

}  // namespace tessivec::bridge
