#include "bridge/array_capacity.hpp"

namespace tessivec::bridge {

ArrayTypes::Entry ArrayTypes::entries_[ArrayTypes::table_size] = {};

namespace {

// The item size of an array ctype, 0 for any other kind; asks the backend itself.
Py_ssize_t ask_item_size(PyObject* ctype) {
    PyObject* kind = PyObject_GetAttrString(ctype, "kind");
    if (kind == nullptr) {
        return 0;
    }
    bool is_array = PyUnicode_Check(kind) && PyUnicode_CompareWithASCIIString(kind, "array") == 0;
    Py_DECREF(kind);
    if (!is_array) {
        return 0;
    }
    PyObject* item = PyObject_GetAttrString(ctype, "item");
    if (item == nullptr) {
        return 0;
    }
    PyObject* backend = PyImport_ImportModule("_cffi_backend");
    PyObject* size = backend ? PyObject_CallMethod(backend, "sizeof", "O", item) : nullptr;
    Py_XDECREF(backend);
    Py_DECREF(item);
    if (size == nullptr) {
        return 0;
    }
    Py_ssize_t item_size = PyLong_AsSsize_t(size);
    Py_DECREF(size);
    return item_size > 0 ? item_size : 0;
}

}  // namespace

Py_ssize_t ArrayTypes::learn(Entry& entry, PyObject* ctype) {
    Py_ssize_t item_size = ask_item_size(ctype);
    PyErr_Clear();  // a type the backend cannot describe is treated as having no length
    Py_INCREF(ctype);
    Py_XDECREF(entry.ctype);
    entry = {ctype, item_size};
    return item_size;
}

}  // namespace tessivec::bridge
