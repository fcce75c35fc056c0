#include "bridge/error_callback_keeper.hpp"

#include "protocol/backend_entry_points.hpp"
#include "protocol/cdata_objects.hpp"
#include "bridge/thread_callback_owner.hpp"
#include "protocol/type_objects.hpp"

namespace tessivec::bridge {

namespace backend = protocol::backend;
using protocol::CDataKind;
using protocol::CDataTypes;
using protocol::cdata_head;
using protocol::type_object;

using common::Reference;
using runtime::VMLErrorCallBack;

namespace {

void* address_of(PyObject* cdata) { return cdata_head(cdata)->data; }

bool is_callback_object(PyObject* object) {
    if (CDataTypes::kind(Py_TYPE(object)) != CDataKind::callback) {
        return false;
    }
    Reference kind(PyObject_GetAttrString(cdata_head(object)->ctype, "kind"));
    bool is_function = kind && PyUnicode_Check(kind.get()) &&
                       PyUnicode_CompareWithASCIIString(kind.get(), "function") == 0;
    PyErr_Clear();
    return is_function;
}

// The live ffi.callback object whose code is at `address`, or none. Only a bare pointer
// to a callback is looked up here, which is rare; the interpreter's list of tracked
// objects includes every callback object.
bool live_callback_at(void* address, Reference& found) {
    found.reset();
    Reference gc(PyImport_ImportModule("gc"));
    Reference objects(gc ? PyObject_CallMethod(gc.get(), "get_objects", nullptr) : nullptr);
    if (!objects) {
        return false;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(objects.get()) && !found; ++i) {
        PyObject* object = PyList_GET_ITEM(objects.get(), i);
        if (CDataTypes::kind(Py_TYPE(object)) == CDataKind::callback &&
            address_of(object) == address && is_callback_object(object)) {
            found = Reference::borrowed(object);
        }
    }
    return true;
}

// What keeps the callback at `address`, passed as `object`, alive: see the header.
bool owner_of(PyObject* object, void* address, PyObject* held, Reference& owner) {
    owner.reset();
    if (address == nullptr) {
        return true;
    }
    CDataKind kind = CDataTypes::kind(Py_TYPE(object));
    if (kind == CDataKind::callback || kind == CDataKind::gc_wrapper) {
        owner = Reference::borrowed(object);
        return true;
    }
    if (held != nullptr && address_of(held) == address) {
        owner = Reference::borrowed(held);
        return true;
    }
    return live_callback_at(address, owner);
}

}  // namespace

bool ErrorCallbackExchange::before_setting(PyObject* object, VMLErrorCallBack address) {
    drop_ended_callback_owners();
    Reference held = Reference::borrowed(held_callback_owner());
    Reference owner;
    return owner_of(object, reinterpret_cast<void*>(address), held.get(), owner) &&
           hold_callback_owner(owner.get(), address, previous_);
}

bool ErrorCallbackExchange::before_clearing() {
    drop_ended_callback_owners();
    return hold_callback_owner(nullptr, nullptr, previous_);
}

bool ErrorCallbackExchange::before_reading() {
    drop_ended_callback_owners();
    previous_ = Reference::borrowed(held_callback_owner());
    return true;
}

PyObject* ErrorCallbackExchange::result(VMLErrorCallBack returned) const {
    _cffi_ctypedescr* type = type_object<VMLErrorCallBack>();
    if (previous_ && returned != nullptr &&
        address_of(previous_.get()) == reinterpret_cast<void*>(returned) &&
        cdata_head(previous_.get())->ctype == reinterpret_cast<PyObject*>(type)) {
        return previous_.new_reference();
    }
    return backend::from_c_pointer(reinterpret_cast<char*>(returned), type);
}

}  // namespace tessivec::bridge
