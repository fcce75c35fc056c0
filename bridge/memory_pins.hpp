// What a call holds of the memory behind its array arguments until the runtime returns.
// Python code that runs while later arguments convert (their __index__ or __float__, a
// finalizer) can release memory converted earlier: ffi.release on a from_buffer cdata
// gives the exporter's buffer back, on an ffi.gc wrapper it runs the destructor. So once
// every argument is converted, and no more Python code runs before the call, a released
// one is refused, and memory the exporter lent read-only is refused where the runtime
// writes. The call holds a reference to each exporter and to each cdata an ffi.gc
// wrapper wraps, so that neither goes while the runtime runs. ffi.new memory belongs to
// its cdata, which the argument tuple holds; a bare pointer is passed as C would pass it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "bridge/cdata_objects.hpp"
#include "common/reference.hpp"

namespace tessivec::bridge {

// One argument's hold: the exporter of a from_buffer cdata and the cdata an ffi.gc
// wrapper wraps, either or both null.
struct MemoryPin {
    common::Reference exporter;
    common::Reference wrapped;
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

    // Only an object whose memory another object owns is pinned. Its type is known by
    // the time the pins are taken: the conversion asked for the object's length.
    bool pin(PyObject* object, bool written, const char* function, std::size_t position) {
        if (!CDataTypes::borrows_memory(Py_TYPE(object))) {
            return true;
        }
        MemoryPin& pin = pins_[count_];
        if (!pin_memory(pin, object, written, function, position)) {
            pin = {};
            return false;
        }
        ++count_;
        return true;
    }

private:
    MemoryPin pins_[MaxPins == 0 ? 1 : MaxPins];
    std::size_t count_ = 0;
};

}  // namespace tessivec::bridge
