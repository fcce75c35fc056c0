// What a call holds of the memory behind its array arguments until the runtime returns.
// Python code that runs while later arguments convert (their __index__ or __float__, a
// finalizer) can release memory converted earlier: ffi.release on a from_buffer cdata
// gives the exporter's buffer back, on an ffi.gc wrapper it runs the destructor. So once
// every argument is converted, a released one is refused, and the call takes a view of
// its own of every exporter, writable where the runtime writes, and a reference to every
// wrapped cdata: from then on nothing but the runtime touches that memory. Memory that
// is read-only is refused where the runtime would write it. ffi.new memory belongs to
// its cdata, which the argument tuple holds; a bare pointer is passed as C would pass it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "bridge/cdata_objects.hpp"

namespace tessivec::bridge {

// One argument's hold: a view of the exporter's buffer and a reference to the cdata an
// ffi.gc wrapper wraps, either or both empty.
struct MemoryPin {
    Py_buffer view;
    bool has_view;
    PyObject* wrapped;

    void release();
};

// Pins the memory of `object`, argument `position` of `function`; false with ValueError
// set when that memory was released, or is read-only and `written`.
bool pin_memory(MemoryPin& pin, PyObject* object, bool written, const char* function,
                std::size_t position);

template <std::size_t MaxPins>
class MemoryPins {
public:
    MemoryPins() = default;
    MemoryPins(const MemoryPins&) = delete;
    MemoryPins& operator=(const MemoryPins&) = delete;

    ~MemoryPins() {
        for (std::size_t i = 0; i < count_; ++i) {
            pins_[i].release();
        }
    }

    bool pin(PyObject* object, bool written, const char* function, std::size_t position);

private:
    MemoryPin pins_[MaxPins == 0 ? 1 : MaxPins];
    std::size_t count_ = 0;
};

// Only an object whose memory another object owns is pinned. Its type is known by the
// time the pins are taken: the conversion asked for the object's length.
template <std::size_t MaxPins>
bool MemoryPins<MaxPins>::pin(PyObject* object, bool written, const char* function,
                              std::size_t position) {
    if (!CDataTypes::borrows_memory(Py_TYPE(object))) {
        return true;
    }
    MemoryPin& pin = pins_[count_];
    pin.has_view = false;
    pin.wrapped = nullptr;
    if (!pin_memory(pin, object, written, function, position)) {
        pin.release();
        return false;
    }
    ++count_;
    return true;
}

}  // namespace tessivec::bridge
