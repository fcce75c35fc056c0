// The bracket around every runtime call made from Python: the interpreter lock is
// released, and the thread's errno is the backend's saved value during the call and
// saved for the backend after it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "bridge/backend_entry_points.hpp"

namespace tessivec::bridge {

class ReleasedInterpreter {
public:
    ReleasedInterpreter() : thread_state_(PyEval_SaveThread()) { backend::restore_errno(); }

    ~ReleasedInterpreter() {
        backend::save_errno();
        PyEval_RestoreThread(thread_state_);
    }

    ReleasedInterpreter(const ReleasedInterpreter&) = delete;
    ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

private:
    PyThreadState* thread_state_;
};

}  // namespace tessivec::bridge
