// How one Python argument becomes the native value of its declared parameter type.
// Each conversion returns false with the Python exception set when it refuses. A
// pointer argument also reports how many elements its memory holds, where known.
// A failure value (-1, all bits set, -1.0, a null pointer) is a failure only when an
// exception is pending: otherwise it is an ordinary value.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <type_traits>

#include "bridge/array_capacity.hpp"
#include "protocol/backend_entry_points.hpp"
#include "bridge/scratch_areas.hpp"
#include "protocol/type_objects.hpp"
#include "common/reference.hpp"
#include "runtime/runtime_records.hpp"

namespace tessivec::bridge {

namespace backend = protocol::backend;
using protocol::type_object;

using runtime::MKL_Complex16;
using runtime::MKL_Complex8;
using runtime::VMLErrorCallBack;

template <class T>
struct Argument;

template <>
struct Argument<int> {
    template <class Scratch>
    static bool convert(PyObject* object, int& value, Py_ssize_t&, Scratch&) {
        value = backend::to_c_i32(object);
        return !(value == -1 && PyErr_Occurred());
    }
};

template <>
struct Argument<unsigned int> {
    template <class Scratch>
    static bool convert(PyObject* object, unsigned int& value, Py_ssize_t&, Scratch&) {
        value = backend::to_c_u32(object);
        return !(value == static_cast<unsigned int>(-1) && PyErr_Occurred());
    }
};

template <>
struct Argument<long long> {
    template <class Scratch>
    static bool convert(PyObject* object, long long& value, Py_ssize_t&, Scratch&) {
        value = backend::to_c_i64(object);
        return !(value == -1 && PyErr_Occurred());
    }
};

template <>
struct Argument<double> {
    template <class Scratch>
    static bool convert(PyObject* object, double& value, Py_ssize_t&, Scratch&) {
        value = PyFloat_AsDouble(object);
        return !(value == -1.0 && PyErr_Occurred());
    }
};

template <>
struct Argument<float> {
    template <class Scratch>
    static bool convert(PyObject* object, float& value, Py_ssize_t&, Scratch&) {
        // Round to nearest; beyond the float range becomes an infinity, NaN stays NaN.
        value = static_cast<float>(PyFloat_AsDouble(object));
        return !(value == -1.0f && PyErr_Occurred());
    }
};

// A complex record passed by value: the backend fills the wrapper's own record.
template <class Record>
struct RecordArgument {
    template <class Scratch>
    static bool convert(PyObject* object, Record& value, Py_ssize_t&, Scratch&) {
        return backend::to_c(reinterpret_cast<char*>(&value), type_object<Record>(), object) >= 0;
    }
};

template <>
struct Argument<MKL_Complex8> : RecordArgument<MKL_Complex8> {};

template <>
struct Argument<MKL_Complex16> : RecordArgument<MKL_Complex16> {};

template <>
struct Argument<VMLErrorCallBack> {
    template <class Scratch>
    static bool convert(PyObject* object, VMLErrorCallBack& value, Py_ssize_t&, Scratch&) {
        char* pointer = backend::to_c_pointer(object, type_object<VMLErrorCallBack>());
        value = reinterpret_cast<VMLErrorCallBack>(pointer);
        return !(pointer == nullptr && PyErr_Occurred());
    }
};

// Every array and every by-reference value: the backend either hands over the address
// of memory the object already owns, or asks for scratch space to convert it into. A
// list is converted from a snapshot of its items: converting an item runs Python code
// (its __float__ or __index__), which could otherwise shrink the list under the backend.
template <class Element>
struct Argument<Element*> {
    template <class Scratch>
    static bool convert(PyObject* object, Element*& value, Py_ssize_t& capacity,
                        Scratch& scratch) {
        _cffi_ctypedescr* type = type_object<Element*>();
        char* pointer = nullptr;
        Py_ssize_t datasize = backend::prepare_pointer_call_argument(type, object, &pointer);
        if (datasize == 0) {
            value = reinterpret_cast<Element*>(pointer);
            capacity = cdata_capacity(object, sizeof(Element));
            return true;
        }
        if (datasize < 0) {
            return false;
        }
        if (!PyList_Check(object)) {
            return convert_items(object, type, datasize, value, capacity, scratch);
        }
        common::Reference snapshot(PyList_AsTuple(object));
        return snapshot &&
               convert_items(snapshot.get(), type, datasize, value, capacity, scratch);
    }

private:
    template <class Scratch>
    static bool convert_items(PyObject* items, _cffi_ctypedescr* type, Py_ssize_t datasize,
                              Element*& value, Py_ssize_t& capacity, Scratch& scratch) {
        capacity = datasize / static_cast<Py_ssize_t>(sizeof(Element));
        std::byte* area = scratch.take(static_cast<std::size_t>(datasize));
        if (area == nullptr) {
            return false;
        }
        value = reinterpret_cast<Element*>(area);
        return backend::convert_array_from_object(reinterpret_cast<char*>(area), type, items) >= 0;
    }
};

template <class T>
inline constexpr bool is_pointer_argument =
    std::is_pointer_v<T> && !std::is_same_v<T, VMLErrorCallBack>;

}  // namespace tessivec::bridge
