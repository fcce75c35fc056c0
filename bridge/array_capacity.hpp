// How many elements the memory behind a converted pointer argument holds, where that
// can be known without guessing: a list or tuple converted into scratch space, or a
// cdata array (which has a length). A bare pointer carries no length.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "protocol/cdata_objects.hpp"

namespace tessivec::bridge {

using protocol::CDataKind;
using protocol::CDataTypes;
using protocol::cdata_head;

inline constexpr Py_ssize_t unknown_capacity = -1;

// What the length of a cdata type's objects is made of, learned once per type from the
// backend and kept: the item size (0 for a type without a length) and, for an array
// type of fixed size, its length.
struct ArrayShape {
    Py_ssize_t item_size;
    Py_ssize_t fixed_length;  // -1 when each object carries its own length
};

class ArrayTypes {
public:
    static const ArrayShape& shape(PyObject* ctype) {
        Entry& entry = entries_[(reinterpret_cast<std::uintptr_t>(ctype) >> 4) % table_size];
        if (entry.ctype == ctype) {
            return entry.shape;
        }
        return learn(entry, ctype);
    }

private:
    struct Entry {
        PyObject* ctype;  // a strong reference, so that the address is not reused
        ArrayShape shape;
    };
    static constexpr std::size_t table_size = 64;

    static const ArrayShape& learn(Entry& entry, PyObject* ctype);

    static Entry entries_[table_size];
};

// Capacity, in elements of `element_size` bytes, of an object the backend accepted as
// memory of its own: a cdata, unless the backend's rules change. An ffi.gc wrapper does
// not keep the length of an array without a fixed size: that length is unknown.
inline Py_ssize_t cdata_capacity(PyObject* cdata, std::size_t element_size) {
    CDataKind kind = CDataTypes::kind(Py_TYPE(cdata));
    if (kind == CDataKind::none) {
        return unknown_capacity;
    }
    const ArrayShape& shape = ArrayTypes::shape(cdata_head(cdata)->ctype);
    if (shape.item_size == 0) {
        return unknown_capacity;
    }
    Py_ssize_t length = shape.fixed_length;
    if (length < 0) {
        if (kind == CDataKind::gc_wrapper) {
            return unknown_capacity;
        }
        length = Py_TYPE(cdata)->tp_as_mapping->mp_length(cdata);
        if (length < 0) {
            PyErr_Clear();
            return unknown_capacity;
        }
    }
    return length * shape.item_size / static_cast<Py_ssize_t>(element_size);
}

}  // namespace tessivec::bridge
