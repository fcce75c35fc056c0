// How many elements the memory behind a converted pointer argument holds, where that
// can be known without guessing: a list or tuple converted into scratch space, or a
// cdata array (which has a length). A bare pointer carries no length.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessivec::bridge {

inline constexpr Py_ssize_t unknown_capacity = -1;

// Bytes per item of a cdata type's arrays, or 0 for a type without a length. The
// answer is learned once per type from the backend and kept.
class ArrayTypes {
public:
    static Py_ssize_t item_size(PyObject* ctype) {
        Entry& entry = entries_[(reinterpret_cast<std::uintptr_t>(ctype) >> 4) % table_size];
        if (entry.ctype == ctype) {
            return entry.item_size;
        }
        return learn(entry, ctype);
    }

private:
    struct Entry {
        PyObject* ctype;  // a strong reference, so that the address is not reused
        Py_ssize_t item_size;
    };
    static constexpr std::size_t table_size = 64;

    static Py_ssize_t learn(Entry& entry, PyObject* ctype);

    static Entry entries_[table_size];
};

// The head every cdata object starts with: its ctype follows the object header.
struct CDataHead {
    PyObject_HEAD
    PyObject* ctype;
};

// Every cdata type is the backend's own, named in its module.
inline bool is_cdata(PyObject* object) {
    constexpr char prefix[] = "_cffi_backend.";
    return std::strncmp(Py_TYPE(object)->tp_name, prefix, sizeof(prefix) - 1) == 0 &&
           Py_TYPE(object)->tp_as_mapping != nullptr &&
           Py_TYPE(object)->tp_as_mapping->mp_length != nullptr;
}

// Capacity, in elements of `element_size` bytes, of an object the backend accepted as
// memory of its own: a cdata, unless the backend's rules change.
inline Py_ssize_t cdata_capacity(PyObject* cdata, std::size_t element_size) {
    if (!is_cdata(cdata)) {
        return unknown_capacity;
    }
    Py_ssize_t item_size = ArrayTypes::item_size(reinterpret_cast<CDataHead*>(cdata)->ctype);
    if (item_size == 0) {
        return unknown_capacity;
    }
    Py_ssize_t length = Py_TYPE(cdata)->tp_as_mapping->mp_length(cdata);
    if (length < 0) {
        PyErr_Clear();
        return unknown_capacity;
    }
    return length * item_size / static_cast<Py_ssize_t>(element_size);
}

}  // namespace tessivec::bridge
