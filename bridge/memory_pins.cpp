#include "bridge/memory_pins.hpp"

namespace tessivec::bridge {

using protocol::CDataKind;
using protocol::CDataTypes;
using protocol::FromBufferCData;
using protocol::GcWrapperCData;

namespace {

// An ffi.gc wrapper of an ffi.gc wrapper of ... is unwrapped this many times at most.
constexpr int deepest_wrapping = 16;

bool refuse(const char* function, std::size_t position, const char* what) {
    PyErr_Format(PyExc_ValueError, "%s: argument %zu %s", function, position + 1, what);
    return false;
}

// An exporter does not resize or free memory it has lent until every export of it is
// released. The flags are those the backend took its own view with, which the exporter
// granted for this memory.
bool export_memory(MemoryPin& pin, FromBufferCData* cdata, bool written, const char* function,
                   std::size_t position) {
    Py_buffer* view = cdata->view;
    if (view == nullptr || view->obj == nullptr) {
        return refuse(function, position, "was released before the call");
    }
    if (written && view->readonly) {
        return refuse(function, position, "is read-only memory, but the call writes it");
    }
    // An exporter without a release function (a NumPy array, bytes) keeps no count of
    // its exports and so refuses nothing for one: a NumPy array refuses to resize while
    // another reference to it is held, and resizes with refcheck=False whatever its
    // exports. The reference is as good as an export there, and costs nothing (a NumPy
    // array's export costs about 20 ns, against 150 ns for the whole call of vdAdd(1, ...)).
    const PyBufferProcs* buffer = Py_TYPE(view->obj)->tp_as_buffer;
    if (buffer != nullptr && buffer->bf_releasebuffer == nullptr) {
        pin.exporter = common::Reference::borrowed(view->obj);
        return true;
    }
    if (PyObject_GetBuffer(view->obj, &pin.view, written ? PyBUF_WRITABLE : PyBUF_SIMPLE) < 0) {
        return false;
    }
    pin.exported = true;
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
                return export_memory(pin, reinterpret_cast<FromBufferCData*>(object), written,
                                     function, position);
            default:
                return true;
        }
    }
    return true;
}

}  // namespace tessivec::bridge
