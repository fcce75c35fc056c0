#include "dispatch/call_arguments.hpp"

#include <algorithm>
#include <cstring>

namespace tessivec::dispatch {

namespace {

constexpr unsigned long long largest_mode = 0xFFFFFFFFull;  // the runtime's modes are 32-bit

// A scalar argument as a value of the loop's element type, at `into`.
bool convert_scalar(const Operation& operation, std::size_t position, PyObject* object,
                    int type, std::byte* into) {
    if (PyTypeNum_ISCOMPLEX(type)) {
        const Py_complex value = PyComplex_AsCComplex(object);
        if (value.real == -1.0 && PyErr_Occurred()) {
            return false;
        }
        if (type == NPY_CFLOAT) {
            const float parts[2] = {static_cast<float>(value.real), static_cast<float>(value.imag)};
            std::memcpy(into, parts, sizeof parts);
        } else {
            const double parts[2] = {value.real, value.imag};
            std::memcpy(into, parts, sizeof parts);
        }
        return true;
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            return false;  // a real number beyond the double range, as lib reports it
        }
        PyErr_Format(PyExc_TypeError, "vm.%U: argument '%U' must be a real number, not %s",
                     operation.name, argument_name(operation, position), Py_TYPE(object)->tp_name);
        return false;
    }
    if (type == NPY_FLOAT) {
        const auto narrowed = static_cast<float>(value);
        std::memcpy(into, &narrowed, sizeof narrowed);
    } else {
        std::memcpy(into, &value, sizeof value);
    }
    return true;
}

}  // namespace

bool parse_arguments(const Operation& operation, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, CallArguments& arguments) {
    const auto expected = static_cast<Py_ssize_t>(operation.arrays + operation.scalars);
    if (nargs != expected) {
        PyErr_Format(PyExc_TypeError, "vm.%U() takes %zd positional argument%s (%zd given)",
                     operation.name, expected, expected == 1 ? "" : "s", nargs);
        return false;
    }
    std::copy(args, args + nargs, arguments.positional.begin());
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        PyObject* value = args[nargs + k] == Py_None ? nullptr : args[nargs + k];
        if (PyUnicode_CompareWithASCIIString(keyword, "out") == 0) {
            arguments.out = value;
        } else if (PyUnicode_CompareWithASCIIString(keyword, "mode") == 0) {
            arguments.mode = value;
        } else {
            PyErr_Format(PyExc_TypeError, "vm.%U() got an unexpected keyword argument '%U'",
                         operation.name, keyword);
            return false;
        }
    }
    return true;
}

bool convert_mode(const Operation& operation, PyObject* object, long long& mode) {
    if (!PyIndex_Check(object)) {
        PyErr_Format(PyExc_TypeError, "vm.%U: mode must be an integer, not %s", operation.name,
                     Py_TYPE(object)->tp_name);
        return false;
    }
    PyObject* index = PyNumber_Index(object);
    if (index == nullptr) {
        return false;
    }
    int overflow = 0;
    mode = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    if (mode == -1 && PyErr_Occurred()) {
        return false;
    }
    if (overflow != 0 || mode < 0 || static_cast<unsigned long long>(mode) > largest_mode) {
        PyErr_Format(PyExc_ValueError, "vm.%U: mode must be from 0 to 0xFFFFFFFF, not %R",
                     operation.name, object);
        return false;
    }
    // The accuracy field picks the runtime's kernel; it defines only 0, LA, HA and EP.
    if ((mode & 0xF) > 0x3) {
        PyErr_Format(PyExc_ValueError,
                     "vm.%U: mode %R has accuracy field %d, which the runtime does not define "
                     "(0, LA 1, HA 2 or EP 3)",
                     operation.name, object, static_cast<int>(mode & 0xF));
        return false;
    }
    return true;
}

PyObject* argument_name(const Operation& operation, std::size_t position) {
    return PyTuple_GET_ITEM(operation.parameter_names, static_cast<Py_ssize_t>(position));
}

bool convert_scalars(const Operation& operation, const CallArguments& arguments, int type,
                     std::size_t size, std::byte* into) {
    for (std::size_t j = 0; j < operation.scalars; ++j) {
        const std::size_t position = operation.arrays + j;
        if (!convert_scalar(operation, position, arguments.positional[position], type,
                            into + j * size)) {
            return false;
        }
    }
    return true;
}

}  // namespace tessivec::dispatch
