// The backend's cdata objects as the wrappers see them: the head every cdata starts
// with, its kind (told apart by Python type, learned by name once and then by address),
// and the fields of the kinds whose memory is another object's: a from_buffer view of
// an exporter's buffer, and an ffi.gc wrapper around another cdata.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessivec::protocol {

struct CDataHead {
    PyObject_HEAD
    PyObject* ctype;
    char* data;
    PyObject* weak_references;
};

// ffi.from_buffer: the view it took of the exporter; ffi.release releases the view,
// which then has no object.
struct FromBufferCData {
    CDataHead head;
    Py_ssize_t length;
    Py_buffer* view;
};

// ffi.gc: the wrapped cdata and the destructor; ffi.release runs the destructor at once
// and drops both. Its length field is not kept for every type: it is not read.
struct GcWrapperCData {
    CDataHead head;
    Py_ssize_t unreliable_length;
    PyObject* wrapped;
    PyObject* destructor;
};

enum class CDataKind {
    none,         // not a cdata
    plain,        // a pointer, a cast, a slice or an item: memory it does not own
    owning,       // ffi.new
    callback,     // ffi.callback, and ffi.new_handle
    from_buffer,  // ffi.from_buffer
    gc_wrapper,   // ffi.gc
};

class CDataTypes {
public:
    static CDataKind kind(PyTypeObject* type) {
        for (const Known& known : known_) {
            if (known.type == type) {
                return known.kind;
            }
        }
        return learn(type);
    }

    // Whether objects of a type already met are from_buffer cdata or ffi.gc wrappers.
    static bool borrows_memory(PyTypeObject* type) {
        return type == borrowing_[0] || type == borrowing_[1];
    }

private:
    struct Known {
        PyTypeObject* type;  // a strong reference, so that the address is not reused
        CDataKind kind;
    };

    static CDataKind learn(PyTypeObject* type);

    static Known known_[8];
    static PyTypeObject* borrowing_[2];
};

inline CDataHead* cdata_head(PyObject* cdata) { return reinterpret_cast<CDataHead*>(cdata); }

}  // namespace tessivec::protocol
