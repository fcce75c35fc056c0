// An owned reference to a Python object, dropped when the owner goes out of scope.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tessivec::dispatch {

class Reference {
public:
    Reference() = default;
    explicit Reference(PyObject* owned) : object_(owned) {}
    Reference(Reference&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Reference& operator=(Reference&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;
    ~Reference() { Py_XDECREF(object_); }

    static Reference borrowed(PyObject* object) {
        Py_XINCREF(object);
        return Reference(object);
    }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

}  // namespace tessivec::dispatch
