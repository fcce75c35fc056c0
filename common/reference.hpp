// An owned reference to a Python object, dropped when its owner goes out of scope, on
// every path. Holds nothing (null) after a failed call that returned no object.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tessivec::common {

class Reference {
public:
    Reference() = default;
    // Takes over `owned`, a new reference or null.
    explicit Reference(PyObject* owned) : object_(owned) {}
    Reference(Reference&& other) noexcept : object_(other.release()) {}
    Reference& operator=(Reference&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;
    ~Reference() { Py_XDECREF(object_); }

    // A reference of its own to `object`, which the caller only borrows.
    static Reference borrowed(PyObject* object) {
        Py_XINCREF(object);
        return Reference(object);
    }

    PyObject* get() const { return object_; }
    // A new reference to the object, for the caller to hand on.
    PyObject* new_reference() const {
        Py_XINCREF(object_);
        return object_;
    }
    explicit operator bool() const { return object_ != nullptr; }

    // Hands the reference over to the caller.
    PyObject* release() { return std::exchange(object_, nullptr); }
    // Takes over `owned` and drops the reference held so far, after the exchange: what
    // the drop runs (a finalizer) then sees the new object in place.
    void reset(PyObject* owned = nullptr) {
        PyObject* previous = std::exchange(object_, owned);
        Py_XDECREF(previous);
    }

private:
    PyObject* object_ = nullptr;
};

}  // namespace tessivec::common
