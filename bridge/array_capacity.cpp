#include "bridge/array_capacity.hpp"

namespace tessivec::bridge {

ArrayTypes::Entry ArrayTypes::entries_[ArrayTypes::table_size] = {};

namespace {

// A Python integer attribute of a ctype, or -1 when it is not one.
Py_ssize_t integer_attribute(PyObject* object, const char* name) {
    PyObject* value = PyObject_GetAttrString(object, name);
    Py_ssize_t result = value != nullptr && PyLong_Check(value) ? PyLong_AsSsize_t(value) : -1;
    Py_XDECREF(value);
    return result;
}

// Asks the backend what an array ctype's objects are made of; any other kind of ctype
// has no length.
ArrayShape ask_shape(PyObject* ctype) {
    ArrayShape no_length{0, -1};
    PyObject* kind = PyObject_GetAttrString(ctype, "kind");
    if (kind == nullptr) {
        return no_length;
    }
    bool is_array = PyUnicode_Check(kind) && PyUnicode_CompareWithASCIIString(kind, "array") == 0;
    Py_DECREF(kind);
    if (!is_array) {
        return no_length;
    }
    PyObject* item = PyObject_GetAttrString(ctype, "item");
    PyObject* backend = PyImport_ImportModule("_cffi_backend");
    PyObject* size = item != nullptr && backend != nullptr
                         ? PyObject_CallMethod(backend, "sizeof", "O", item)
                         : nullptr;
    Py_XDECREF(backend);
    Py_XDECREF(item);
    Py_ssize_t item_size = size != nullptr ? PyLong_AsSsize_t(size) : 0;
    Py_XDECREF(size);
    if (item_size <= 0) {
        return no_length;
    }
    return {item_size, integer_attribute(ctype, "length")};
}

}  // namespace

const ArrayShape& ArrayTypes::learn(Entry& entry, PyObject* ctype) {
    ArrayShape shape = ask_shape(ctype);
    PyErr_Clear();  // a type the backend cannot describe is treated as having no length
    Py_INCREF(ctype);
    Py_XDECREF(entry.ctype);
    entry = {ctype, shape};
    return entry.shape;
}

}  // namespace tessivec::bridge
