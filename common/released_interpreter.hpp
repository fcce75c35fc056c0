// The interpreter lock released for the lifetime of the object, on the calling thread,
// and taken back when it goes, on every path. Nothing may touch a Python object while
// it is released.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessivec::common {

class ReleasedInterpreter {
public:
    // `release` false keeps the lock held: for work too short to be worth the release.
    explicit ReleasedInterpreter(bool release = true)
        : thread_state_(release ? PyEval_SaveThread() : nullptr) {}
    ~ReleasedInterpreter() {
        if (thread_state_ != nullptr) {
            PyEval_RestoreThread(thread_state_);
        }
    }
    ReleasedInterpreter(const ReleasedInterpreter&) = delete;
    ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

private:
    PyThreadState* thread_state_;
};

}  // namespace tessivec::common
