// A vm math operation: its loops and names, behind a built-in function whose `self` it
// is. The function takes the operation's arrays and scalars positionally and `out` and
// `mode` by keyword.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <span>

#include "dispatch/loop.hpp"

namespace tessivec::dispatch {

struct Operation {
    PyObject_HEAD
    PyMethodDef method;
    std::span<const Loop> loops;
    std::size_t arrays;  // positional array arguments, then
    std::size_t scalars;  // positional scalar arguments
    std::size_t outputs;
    PyObject* name;  // str: the function's name, which `method` points into
    PyObject* parameter_names;  // tuple of str, one per positional argument
    PyObject* doc;  // str: the docstring with its text signature, which `method` points into
};

extern PyTypeObject* operation_type;

// Creates the Operation type; false with an exception set when that fails.
bool ready_operation_type();

// A built-in function for the named operation, or nullptr with an exception set.
PyObject* new_operation_function(PyObject* name, PyObject* parameter_names, PyObject* doc,
                                 PyObject* module_name);

// The function's call: METH_FASTCALL | METH_KEYWORDS with the Operation as `self`.
PyObject* call_operation(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);

}  // namespace tessivec::dispatch
