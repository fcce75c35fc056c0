// What a call holds of the memory behind its array arguments until the runtime returns.
// Python code can release that memory while the call runs: code that runs while later
// arguments convert (their __index__ or __float__, a finalizer), or another thread once
// the interpreter lock is released. ffi.release on a from_buffer cdata gives the view it
// took back to the exporter, which may then resize or free the memory (a bytearray, an
// mmap); on an ffi.gc wrapper it runs the destructor and drops the wrapped cdata.
//
// So once every argument is converted, and no more Python code runs before the call, a
// released one is refused, memory the exporter lent read-only is refused where the
// runtime writes, and the call takes an export of its own from the exporter behind each
// from_buffer cdata (writable where the runtime writes), which keeps the memory in place
// whatever happens to the cdata's view, and a reference to each cdata an ffi.gc wrapper
// wraps. Both are given back, with the interpreter lock held, after the runtime returns.
// ffi.new memory belongs to its cdata, which the argument tuple holds, and costs nothing
// here; a bare pointer is passed as C would pass it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "protocol/cdata_objects.hpp"
#include "common/reference.hpp"

namespace tessivec::bridge {

using protocol::CDataTypes;

// One argument's hold. The export is valid only where `exported` says so; an exporter
// that keeps no count of its exports is held by a reference instead.
struct MemoryPin {
    Py_buffer view;
    bool exported;
    common::Reference exporter;
    common::Reference wrapped;
};

// Pins the memory of `object`, argument `position` of `function`; false with an
// exception set, and nothing held, when that memory was released, is read-only and
// `written`, or its exporter refuses the export.
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
            if (pins_[i].exported) {
                PyBuffer_Release(&pins_[i].view);
            }
        }
    }

    // Only an object whose memory another object owns is pinned. Its type is known by
    // the time the pins are taken: the conversion asked for the object's length.
    bool pin(PyObject* object, bool written, const char* function, std::size_t position) {
        if (!CDataTypes::borrows_memory(Py_TYPE(object))) {
            return true;
        }
        MemoryPin& pin = pins_[count_];
        pin.exported = false;
        if (!pin_memory(pin, object, written, function, position)) {
            pin.exporter.reset();
            pin.wrapped.reset();
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
