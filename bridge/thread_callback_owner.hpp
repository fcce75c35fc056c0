// The owner of the error callback that the runtime holds for the calling OS thread.
// The runtime keeps one callback per OS thread, for as long as the thread lives, while
// a Python thread state can end before its OS thread does: a thread that C created
// calls Python through a fresh thread state each time (a ctypes callback), and the
// state ends when that call returns. So the owner is held per OS thread, not in the
// thread state:
// - on the main thread (the interpreter's first thread state) and a thread that
//   `threading` started, which end with their thread state, the owner goes when the
//   state is cleared on that thread; on the main thread, which runs on after the
//   interpreter is finalized, the runtime's callback is cleared first where it is still
//   the one the module set;
// - on any other thread it stays until the OS thread ends; the owner, whose reference
//   cannot be dropped then (the thread has no thread state and no interpreter lock), is
//   dropped by the next thread that exchanges a callback;
// - a thread state cleared by another OS thread (daemon threads at finalization, the
//   other threads in a forked child) leaves the owner in place: that thread's runtime
//   may still call it.
// Everything here runs with the interpreter lock held, but the OS thread's end.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "common/reference.hpp"
#include "runtime/runtime_records.hpp"

namespace tessivec::bridge {

// Drops the owners whose OS thread has ended: first thing in every exchange, before the
// held owner is read, since dropping one can run Python code.
void drop_ended_callback_owners();

// The owner held for the calling OS thread, borrowed, or null.
PyObject* held_callback_owner();

// Holds `owner` of the callback at `address` (null: none) for the calling OS thread and
// hands the one held so far over to `previous`, so that the caller lets go of it once
// the runtime has. False with an exception set, and nothing changed, on failure.
bool hold_callback_owner(PyObject* owner, runtime::VMLErrorCallBack address,
                         common::Reference& previous);

}  // namespace tessivec::bridge
