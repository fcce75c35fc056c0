// The native side of vantrel.mkl.vm: the package builds one built-in function per math
// operation through `operation`, and hands over the context variable of its errstate.
#define DISPATCH_IMPORTS_NUMPY
#include "dispatch/numpy_api.hpp"

#include <dlfcn.h>

#include "dispatch/error_status.hpp"
#include "dispatch/operation.hpp"
#include "dispatch/strips.hpp"
#include "runtime/runtime_functions.hpp"

namespace {

using namespace tessivec::dispatch;

PyObject* operation(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) {
        PyErr_SetString(PyExc_TypeError,
                        "operation(name, parameter_names, doc, module) takes 4 arguments");
        return nullptr;
    }
    return new_operation_function(args[0], args[1], args[2], args[3]);
}

PyObject* set_error_actions(PyObject*, PyObject* variable) {
    if (!PyContextVar_CheckExact(variable)) {
        PyErr_SetString(PyExc_TypeError, "set_error_actions takes a contextvars.ContextVar");
        return nullptr;
    }
    set_error_actions_variable(variable);
    Py_RETURN_NONE;
}

PyObject* get_strip_limit(PyObject*, PyObject*) { return PyLong_FromSsize_t(strip_limit()); }

PyObject* change_strip_limit(PyObject*, PyObject* elements) {
    const Py_ssize_t value = PyLong_AsSsize_t(elements);
    if (value == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    const npy_intp previous = strip_limit();
    set_strip_limit(value);
    return PyLong_FromSsize_t(previous);
}

PyObject* runtime_location(PyObject*, PyObject*) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&tessivec::runtime::vdExp), &info) == 0 ||
        info.dli_fname == nullptr) {
        Py_RETURN_NONE;
    }
    return PyUnicode_DecodeFSDefault(info.dli_fname);
}

PyMethodDef methods[] = {
    {"operation", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&operation)),
     METH_FASTCALL,
     "operation(name, parameter_names, doc, module)\n--\n\n"
     "A built-in function for the named math operation."},
    {"set_error_actions", &set_error_actions, METH_O,
     "Sets the context variable whose tuple of actions the operations follow."},
    {"strip_limit", &get_strip_limit, METH_NOARGS,
     "The most elements one runtime call is given."},
    {"set_strip_limit", &change_strip_limit, METH_O,
     "Sets the most elements one runtime call is given; returns the previous limit."},
    {"runtime_location", &runtime_location, METH_NOARGS,
     "The file the runtime's functions were loaded from, or None."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "vantrel.mkl._dispatch",
    "The native call path of vantrel.mkl.vm's math functions.",
    -1,  // no per-module state: the context variable of errstate is process-wide
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__dispatch(void) {
    import_array();
    if (!ready_operation_type()) {
        return nullptr;
    }
    return PyModule_Create(&module_definition);
}
