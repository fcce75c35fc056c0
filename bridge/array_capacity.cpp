#include "bridge/array_capacity.hpp"

#include "common/reference.hpp"

namespace tessivec::bridge {

ArrayTypes::Entry ArrayTypes::entries_[ArrayTypes::table_size] = {};

namespace {

using common::Reference;

// A Python integer attribute of a ctype, or -1 when it is not one.
Py_ssize_t integer_attribute(PyObject* object, const char* name) {
    Reference value(PyObject_GetAttrString(object, name));
    return value && PyLong_Check(value.get()) ? PyLong_AsSsize_t(value.get()) : -1;
}

// Asks the backend what an array ctype's objects are made of; any other kind of ctype
// has no length.
ArrayShape ask_shape(PyObject* ctype) {
    ArrayShape no_length{0, -1};
    Reference kind(PyObject_GetAttrString(ctype, "kind"));
    if (!kind || !PyUnicode_Check(kind.get()) ||
        PyUnicode_CompareWithASCIIString(kind.get(), "array") != 0) {
        return no_length;
    }
    Reference item(PyObject_GetAttrString(ctype, "item"));
    Reference backend(PyImport_ImportModule("_cffi_backend"));
    Reference size(item && backend
                       ? PyObject_CallMethod(backend.get(), "sizeof", "O", item.get())
                       : nullptr);
    Py_ssize_t item_size = size ? PyLong_AsSsize_t(size.get()) : 0;
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
