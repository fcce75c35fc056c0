// The native side of vantrel.mkl.vm: its ufuncs, built from the generated table, and
// the gather and scatter functions.
#define DISPATCH_IMPORTS_NUMPY
#include "dispatch/numpy_api.hpp"

#include <cstring>
#include <iterator>

#include "common/reference.hpp"
#include "dispatch/exception_boundary.hpp"
#include "dispatch/pack.hpp"
#include "dispatch/runtime_library.hpp"
#include "dispatch/run_driver.hpp"
#include "dispatch/runtime_session.hpp"
#include "dispatch/ufuncs.hpp"

namespace {

using namespace tessivec::dispatch;

PyObject* ufuncs(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || (args[0] != Py_None && !PyUnicode_Check(args[0])) ||
        !PyUnicode_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "ufuncs(accuracy: str | None, module: str)");
        return nullptr;
    }
    const char* accuracy = args[0] == Py_None ? nullptr : PyUnicode_AsUTF8(args[0]);
    const char* module = PyUnicode_AsUTF8(args[1]);
    if ((args[0] != Py_None && accuracy == nullptr) || module == nullptr) {
        return nullptr;
    }
    return new_ufuncs(accuracy, module);
}

PyObject* get_run_limit(PyObject*, PyObject*) { return PyLong_FromSsize_t(run_limit()); }

PyObject* change_run_limit(PyObject*, PyObject* elements) {
    const Py_ssize_t value = PyLong_AsSsize_t(elements);
    if (value == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    const npy_intp previous = run_limit();
    set_run_limit(value);
    return PyLong_FromSsize_t(previous);
}

PyObject* runtime_location(PyObject*, PyObject*) {
    const char* file = runtime_file();
    if (file == nullptr) {
        Py_RETURN_NONE;
    }
    return PyUnicode_DecodeFSDefault(file);
}

PyObject* one_thread_limit(PyObject*, PyObject*) {
    if (!has_local_thread_count()) {
        Py_RETURN_NONE;
    }
    return PyLong_FromSsize_t(one_thread_below);
}

PyObject* shared_calls(PyObject*, PyObject*) { return PyLong_FromLong(calls_shared()); }

// "learnt", "always" or "never"; returns the previous way.
PyObject* change_sharing(PyObject*, PyObject* way) {
    static constexpr const char* names[] = {"learnt", "always", "never"};
    const char* name = PyUnicode_Check(way) ? PyUnicode_AsUTF8(way) : nullptr;
    if (name == nullptr) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError, "the way of sharing is a str");
        }
        return nullptr;
    }
    for (int i = 0; i < static_cast<int>(std::size(names)); ++i) {
        if (std::strcmp(name, names[i]) == 0) {
            const auto previous = static_cast<int>(sharing());
            set_sharing(static_cast<Sharing>(i));
            return PyUnicode_FromString(names[previous]);
        }
    }
    PyErr_Format(PyExc_ValueError, "sharing is 'learnt', 'always' or 'never', not %R", way);
    return nullptr;
}

PyMethodDef methods[] = {
    {"ufuncs", python_method<&ufuncs>(), METH_FASTCALL,
     "ufuncs(accuracy, module)\n--\n\n"
     "A new dict of vm's ufuncs, under vm's names and NumPy's: in the thread's accuracy "
     "(None) or in 'la', 'ha' or 'ep'."},
    {"run_limit", python_method<&get_run_limit>(), METH_NOARGS,
     "The most elements one runtime call is given."},
    {"set_run_limit", python_method<&change_run_limit>(), METH_O,
     "Sets the most elements one runtime call is given; returns the previous limit."},
    {"runtime_location", python_method<&runtime_location>(), METH_NOARGS,
     "The file the runtime's functions were loaded from, or None."},
    {"one_thread_below", python_method<&one_thread_limit>(), METH_NOARGS,
     "Calls on fewer elements than this run on the calling thread only; None when the "
     "runtime offers no per-thread thread count."},
    {"calls_shared", python_method<&shared_calls>(), METH_NOARGS,
     "How many calls have been shared among the runtime's threads."},
    {"set_sharing", python_method<&change_sharing>(), METH_O,
     "How large calls are shared among the runtime's threads: 'learnt' (as each loop "
     "finds faster), 'always' or 'never'; returns the previous way."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "vantrel.mkl._dispatch",
    "The native side of vantrel.mkl.vm: its ufuncs, gather and scatter.",
    -1,  // the ufuncs' loops and their data live as long as the process
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__dispatch(void) {
    import_array();
    import_umath();
    using tessivec::common::Reference;
    Reference module(PyModule_Create(&module_definition));
    if (!module) {
        return nullptr;
    }
    PyObject* functions = PyModule_GetDict(module.get());
    Reference module_name(PyUnicode_FromString("vantrel.mkl.vm"));
    if (!module_name) {
        return nullptr;
    }
    // vm takes the gather and scatter functions by the names this tuple lists.
    Reference names(PyTuple_New(std::size(pack_methods)));
    if (!names) {
        return nullptr;
    }
    Py_ssize_t position = 0;
    for (PyMethodDef& method : pack_methods) {
        Reference function(PyCFunction_NewEx(&method, nullptr, module_name.get()));
        if (!function || PyDict_SetItemString(functions, method.ml_name, function.get()) < 0) {
            return nullptr;
        }
        PyObject* name = PyUnicode_FromString(method.ml_name);
        if (name == nullptr) {
            return nullptr;
        }
        PyTuple_SET_ITEM(names.get(), position++, name);
    }
    if (PyDict_SetItemString(functions, "gather_scatter", names.get()) < 0) {
        return nullptr;
    }
    return module.release();
}
