#include "dispatch/error_status.hpp"

#include "dispatch/reference.hpp"
#include "runtime/runtime_functions.hpp"

namespace tessivec::dispatch {

namespace {

// The runtime's status codes of the four conditions are 1 to 4, in errstate order.
constexpr const char* condition_names[] = {"domain error", "singularity", "overflow",
                                           "underflow"};
constexpr int condition_count = 4;

PyObject* error_actions_variable = nullptr;

}  // namespace

StatusWatch::StatusWatch() : prior_(runtime::vmlClearErrStatus()) {}

StatusWatch::~StatusWatch() {
    if (prior_ != 0) {
        runtime::vmlSetErrStatus(prior_);
    }
}

void StatusWatch::after_strip() {
    const int status = runtime::vmlClearErrStatus();
    if (status >= 1 && status <= condition_count) {
        conditions_ |= 1u << (status - 1);
    } else if (status < 0) {
        refusal_ = status;
    }
}

bool report_conditions(const StatusWatch& watch, PyObject* function_name,
                       const char* runtime_name) {
    if (watch.refusal() != 0) {
        PyErr_Format(PyExc_RuntimeError, "vm.%U: %s refused the call with status %d",
                     function_name, runtime_name, watch.refusal());
        return false;
    }
    if (watch.conditions() == 0 || error_actions_variable == nullptr) {
        return true;
    }
    PyObject* value = nullptr;
    if (PyContextVar_Get(error_actions_variable, nullptr, &value) < 0) {
        return false;
    }
    Reference actions(value);
    for (int i = 0; i < condition_count; ++i) {
        if ((watch.conditions() & (1u << i)) == 0) {
            continue;
        }
        PyObject* action = PyTuple_GetItem(actions.get(), i);
        if (action == nullptr) {
            return false;
        }
        if (PyUnicode_CompareWithASCIIString(action, "raise") == 0) {
            PyErr_Format(PyExc_FloatingPointError, "%s encountered in vm.%U (%s)",
                         condition_names[i], function_name, runtime_name);
            return false;
        }
        if (PyUnicode_CompareWithASCIIString(action, "warn") == 0 &&
            PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "%s encountered in vm.%U (%s)",
                             condition_names[i], function_name, runtime_name) < 0) {
            return false;
        }
    }
    return true;
}

void set_error_actions_variable(PyObject* variable) {
    Py_XINCREF(variable);
    Py_XDECREF(error_actions_variable);
    error_actions_variable = variable;
}

}  // namespace tessivec::dispatch
