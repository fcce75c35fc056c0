#include "bridge/memory_pins.hpp"

namespace tessivec::bridge {

namespace {

// An ffi.gc wrapper of an ffi.gc wrapper of ... is unwrapped this many times at most.
constexpr int deepest_wrapping = 16;

bool refuse(const char* function, std::size_t position, const char* what) {
    PyErr_Format(PyExc_ValueError, "%s: argument %zu %s", function, position + 1, what);
    return false;
}

// A view of the exporter's buffer, taken afresh: the exporter keeps that memory, and
// keeps it writable where asked, until the view is released.
bool view_exporter(MemoryPin& pin, FromBufferCData* cdata, bool written, const char* function,
                   std::size_t position) {
    Py_buffer* taken = cdata->view;
    if (taken == nullptr || taken->obj == nullptr) {
        return refuse(function, position, "was released before the call");
    }
    if (written && taken->readonly) {
        return refuse(function, position, "is read-only memory, but the call writes it");
    }
    if (PyObject_GetBuffer(taken->obj, &pin.view, written ? PyBUF_WRITABLE : PyBUF_SIMPLE) < 0) {
        bool read_only = written && PyErr_ExceptionMatches(PyExc_BufferError);
        PyErr_Clear();
        return refuse(function, position,
                      read_only ? "is read-only memory, but the call writes it"
                                : "is memory its exporter no longer offers");
    }
    pin.has_view = true;
    if (pin.view.buf != taken->buf || pin.view.len < taken->len) {
        return refuse(function, position, "is memory its exporter has moved or shrunk");
    }
    return true;
}

}  // namespace

void MemoryPin::release() {
    if (has_view) {
        PyBuffer_Release(&view);
        has_view = false;
    }
    Py_CLEAR(wrapped);
}

bool pin_memory(MemoryPin& pin, PyObject* object, bool written, const char* function,
                std::size_t position) {
    for (int depth = 0; depth < deepest_wrapping; ++depth) {
        switch (CDataTypes::kind(Py_TYPE(object))) {
            case CDataKind::gc_wrapper: {
                PyObject* wrapped = reinterpret_cast<GcWrapperCData*>(object)->wrapped;
                if (wrapped == nullptr) {
                    return refuse(function, position, "was released before the call");
                }
                if (pin.wrapped == nullptr) {
                    Py_INCREF(wrapped);
                    pin.wrapped = wrapped;
                }
                object = wrapped;
                break;
            }
            case CDataKind::from_buffer:
                return view_exporter(pin, reinterpret_cast<FromBufferCData*>(object), written,
                                     function, position);
            default:
                return true;
        }
    }
    return true;
}

}  // namespace tessivec::bridge
