// Where the extension's C++ meets CPython: a C++ exception must not unwind into the
// interpreter's C frames, which cannot pass it on. Every function of the module's
// method tables is made by python_method, which ends each exception at the boundary:
// a failed allocation becomes MemoryError, any other exception SystemError.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <stdexcept>

namespace tessivec::dispatch {

// Sets the Python exception for the C++ exception being handled.
inline void set_python_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {  // a container asked for more than it can hold
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_SystemError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

template <auto Function>
struct ExceptionBoundary;

template <class... Parameters, PyObject* (*Function)(Parameters...)>
struct ExceptionBoundary<Function> {
    static PyObject* call(Parameters... parameters) noexcept {
        try {
            return Function(parameters...);
        } catch (...) {
            set_python_exception();
            return nullptr;
        }
    }
};

// The entry of a method table for `Function`, as the PyCFunction the table's calling
// convention casts it to, with its exceptions ended at the boundary.
template <auto Function>
PyCFunction python_method() {
    return reinterpret_cast<PyCFunction>(
        reinterpret_cast<void (*)()>(&ExceptionBoundary<Function>::call));
}

}  // namespace tessivec::dispatch
