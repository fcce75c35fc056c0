#include "bridge/memory_pins.hpp"

namespace tessivec::bridge {

namespace {

// An ffi.gc wrapper of an ffi.gc wrapper of ... is unwrapped this many times at most.
constexpr int deepest_wrapping = 16;

bool refuse(const char* function, std::size_t position, const char* what) {
    PyErr_Format(PyExc_ValueError, "%s: argument %zu %s", function, position + 1, what);
    return false;
}

// The view a from_buffer cdata took keeps the exporter's memory in place (an exporter
// does not resize or free memory it has lent) until ffi.release gives it back.
bool hold_exporter(MemoryPin& pin, FromBufferCData* cdata, bool written, const char* function,
                   std::size_t position) {
    Py_buffer* view = cdata->view;
    if (view == nullptr || view->obj == nullptr) {
        return refuse(function, position, "was released before the call");
    }
    if (written && view->readonly) {
        return refuse(function, position, "is read-only memory, but the call writes it");
    }
    pin.exporter = common::Reference::borrowed(view->obj);
    return true;
}

}  // namespace

bool pin_memory(MemoryPin& pin, PyObject* object, bool written, const char* function,
                std::size_t position) {
    for (int depth = 0; depth < deepest_wrapping; ++depth) {
        switch (CDataTypes::kind(Py_TYPE(object))) {
            case CDataKind::gc_wrapper: {
                PyObject* wrapped = reinterpret_cast<GcWrapperCData*>(object)->wrapped;
                if (wrapped == nullptr) {
                    return refuse(function, position, "was released before the call");
                }
                if (!pin.wrapped) {
                    pin.wrapped = common::Reference::borrowed(wrapped);
                }
                object = wrapped;
                break;
            }
            case CDataKind::from_buffer:
                return hold_exporter(pin, reinterpret_cast<FromBufferCData*>(object), written,
                                     function, position);
            default:
                return true;
        }
    }
    return true;
}

}  // namespace tessivec::bridge
