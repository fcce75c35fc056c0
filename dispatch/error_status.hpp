// The runtime's per-thread error status around one vm call. The watch starts from a
// clear status, collects the conditions every strip raised (the runtime keeps only the
// last one) and gives the thread back the status it found, so that a caller's own
// status from lib calls survives a vm call.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessivec::dispatch {

class StatusWatch {
public:
    StatusWatch();
    ~StatusWatch();
    StatusWatch(const StatusWatch&) = delete;
    StatusWatch& operator=(const StatusWatch&) = delete;

    // Takes the status after one strip and clears it. Needs no interpreter lock.
    void after_strip();

    unsigned conditions() const { return conditions_; }
    int refusal() const { return refusal_; }

private:
    int prior_;
    unsigned conditions_ = 0;  // bit i: condition i of the errstate order
    int refusal_ = 0;  // a negative status: the runtime refused the arguments
};

// The Python-level consequences of the conditions: per the errstate in force, nothing,
// a RuntimeWarning or a FloatingPointError naming the function and the condition.
// False with an exception set when the call must fail.
bool report_conditions(const StatusWatch& watch, PyObject* function_name,
                       const char* runtime_name);

// The context variable that holds the errstate actions: a tuple of 'ignore', 'warn' or
// 'raise' for the domain, singularity, overflow and underflow conditions.
void set_error_actions_variable(PyObject* variable);

}  // namespace tessivec::dispatch
