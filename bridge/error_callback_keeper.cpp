#include "bridge/error_callback_keeper.hpp"

#include "bridge/backend_entry_points.hpp"
#include "bridge/cdata_objects.hpp"
#include "bridge/type_objects.hpp"

namespace tessivec::bridge {

using runtime::VMLErrorCallBack;

namespace {

PyObject* holder_key() {
    static PyObject* key = PyUnicode_InternFromString("vantrel.mkl.tessivec error callback");
    return key;
}

PyObject* thread_dict() {
    PyObject* dict = holder_key() != nullptr ? PyThreadState_GetDict() : nullptr;
    if (dict == nullptr && !PyErr_Occurred()) {
        PyErr_SetString(PyExc_RuntimeError, "no thread state to hold the error callback in");
    }
    return dict;
}

// The owner the calling thread holds, as a new reference, or nullptr; false on failure.
bool held_owner(PyObject* dict, PyObject*& owner) {
    owner = PyDict_GetItemWithError(dict, holder_key());
    Py_XINCREF(owner);
    return owner != nullptr || !PyErr_Occurred();
}

bool hold(PyObject* dict, PyObject* owner) {
    if (owner != nullptr) {
        return PyDict_SetItem(dict, holder_key(), owner) == 0;
    }
    if (PyDict_DelItem(dict, holder_key()) < 0) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) {
            return false;
        }
        PyErr_Clear();
    }
    return true;
}

void* address_of(PyObject* cdata) { return cdata_head(cdata)->data; }

bool is_callback_object(PyObject* object) {
    if (CDataTypes::kind(Py_TYPE(object)) != CDataKind::callback) {
        return false;
    }
    PyObject* kind = PyObject_GetAttrString(cdata_head(object)->ctype, "kind");
    bool is_function = kind != nullptr && PyUnicode_Check(kind) &&
                       PyUnicode_CompareWithASCIIString(kind, "function") == 0;
    Py_XDECREF(kind);
    PyErr_Clear();
    return is_function;
}

// The live ffi.callback object whose code is at `address`, as a new reference, or
// nullptr. Only a bare pointer to a callback is looked up here, which is rare; the
// interpreter's list of tracked objects includes every callback object.
bool live_callback_at(void* address, PyObject*& found) {
    found = nullptr;
    PyObject* gc = PyImport_ImportModule("gc");
    PyObject* objects = gc != nullptr ? PyObject_CallMethod(gc, "get_objects", nullptr) : nullptr;
    Py_XDECREF(gc);
    if (objects == nullptr) {
        return false;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(objects) && found == nullptr; ++i) {
        PyObject* object = PyList_GET_ITEM(objects, i);
        if (CDataTypes::kind(Py_TYPE(object)) == CDataKind::callback &&
            address_of(object) == address && is_callback_object(object)) {
            Py_INCREF(object);
            found = object;
        }
    }
    Py_DECREF(objects);
    return true;
}

// What keeps the callback at `address`, passed as `object`, alive: see the header.
bool owner_of(PyObject* object, void* address, PyObject* held, PyObject*& owner) {
    owner = nullptr;
    if (address == nullptr) {
        return true;
    }
    CDataKind kind = CDataTypes::kind(Py_TYPE(object));
    if (kind == CDataKind::callback || kind == CDataKind::gc_wrapper) {
        Py_INCREF(object);
        owner = object;
        return true;
    }
    if (held != nullptr && address_of(held) == address) {
        Py_INCREF(held);
        owner = held;
        return true;
    }
    return live_callback_at(address, owner);
}

}  // namespace

bool ErrorCallbackExchange::before_setting(PyObject* object, VMLErrorCallBack address) {
    PyObject* dict = thread_dict();
    if (dict == nullptr || !held_owner(dict, previous_)) {
        return false;
    }
    PyObject* owner = nullptr;
    if (!owner_of(object, reinterpret_cast<void*>(address), previous_, owner)) {
        return false;
    }
    bool held = hold(dict, owner);
    Py_XDECREF(owner);
    return held;
}

bool ErrorCallbackExchange::before_clearing() {
    PyObject* dict = thread_dict();
    return dict != nullptr && held_owner(dict, previous_) && hold(dict, nullptr);
}

bool ErrorCallbackExchange::before_reading() {
    PyObject* dict = thread_dict();
    return dict != nullptr && held_owner(dict, previous_);
}

PyObject* ErrorCallbackExchange::result(VMLErrorCallBack returned) const {
    _cffi_ctypedescr* type = type_object<VMLErrorCallBack>();
    if (previous_ != nullptr && returned != nullptr &&
        address_of(previous_) == reinterpret_cast<void*>(returned) &&
        cdata_head(previous_)->ctype == reinterpret_cast<PyObject*>(type)) {
        Py_INCREF(previous_);
        return previous_;
    }
    return backend::from_c_pointer(reinterpret_cast<char*>(returned), type);
}

}  // namespace tessivec::bridge
