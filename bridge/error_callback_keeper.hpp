// The runtime keeps the error callback of each thread by address and calls it on a
// later error; the Python object that owns that address must live at least as long.
// The owner of the callback set through the module is held for the calling OS thread
// (bridge/thread_callback_owner.hpp) until it is replaced or cleared through the
// module, or the thread ends.
//
// The owner is the object passed when it owns its callback (ffi.callback, or an ffi.gc
// wrapper); for a bare pointer (a cast, a void *, a pointer returned earlier) it is the
// live ffi.callback object at that address, if any: a native function needs no owner.
// The owner is held before the runtime can call it, and the one it replaces is let go
// only after the runtime has let go of it. A callback returned to Python, by the
// setter, the getter or the clearer, is its owner itself where the module holds it, so
// that it stays callable, and can be set again, for as long as Python keeps it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "common/reference.hpp"
#include "runtime/runtime_records.hpp"

namespace tessivec::bridge {

class ErrorCallbackExchange {
public:
    ErrorCallbackExchange() = default;
    ErrorCallbackExchange(const ErrorCallbackExchange&) = delete;
    ErrorCallbackExchange& operator=(const ErrorCallbackExchange&) = delete;

    // Before the runtime sets `address`, passed as `object`: holds its owner instead of
    // the previous one. False with an exception set, and nothing changed, on failure.
    bool before_setting(PyObject* object, runtime::VMLErrorCallBack address);
    // Before the runtime clears the callback: lets go of the held owner after the call.
    bool before_clearing();
    // Before the runtime reports the callback: notes the held owner.
    bool before_reading();

    // The callback the runtime returned, as a new reference.
    PyObject* result(runtime::VMLErrorCallBack returned) const;

private:
    common::Reference previous_;  // the owner held when the call began
};

}  // namespace tessivec::bridge
