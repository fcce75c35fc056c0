#include "bridge/error_callback_keeper.hpp"

namespace tessivec::bridge {

bool keep_error_callback(PyObject* callback) {
    static PyObject* key = PyUnicode_InternFromString("vantrel.mkl.tessivec error callback");
    PyObject* thread_dict = PyThreadState_GetDict();
    if (key == nullptr || thread_dict == nullptr) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_RuntimeError, "no thread state to hold the error callback in");
        }
        return false;
    }
    if (callback != nullptr) {
        return PyDict_SetItem(thread_dict, key, callback) == 0;
    }
    if (PyDict_DelItem(thread_dict, key) < 0) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) {
            return false;
        }
        PyErr_Clear();
    }
    return true;
}

}  // namespace tessivec::bridge
