/* The floor of the per-call comparison: the least a C extension can do to call a
 * runtime function from Python with the same arguments. Each function takes its
 * arguments in the calling convention of the module's wrapper of the same shape, reads
 * each cdata array's address straight from the object, releases and retakes the
 * interpreter lock around the runtime call, and touches nothing else: no argument
 * conversion through the backend, no errno bracket.
 *
 * The `_through_backend` and `_with_errno` variants of vdAdd add, one at a time, what
 * the module's wrapper does on top of that, so that the difference can be attributed.
 * Built by the benchmark with the system compiler; not part of the package. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "runtime_functions.h"

/* The head of the backend's cdata object, as laid out in CFFI's _cffi_backend.c. */
typedef struct {
    PyObject_HEAD
    PyObject* c_type;
    char* c_data;
} CDataHead;

/* The element types of the arrays the benchmark passes. */
enum Element { doubles, floats, complex16s, element_kinds };

static PyTypeObject* cdata_base;              /* ffi.CData */
static PyObject* array_types[element_kinds];  /* per element type, a tuple of array ctypes */
static PyObject* pointer_type;                /* `double *`, for the backend */
static void** backend_exports;                /* the backend's conversion entry points */

enum { to_c_i32_slot = 5, restore_errno_slot = 13, save_errno_slot = 14,
       prepare_pointer_slot = 23 };

static void* array_address(PyObject* object, enum Element element) {
    if (PyObject_TypeCheck(object, cdata_base)) {
        PyObject* types = array_types[element];
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(types); ++i) {
            if (((CDataHead*)object)->c_type == PyTuple_GET_ITEM(types, i)) {
                return ((CDataHead*)object)->c_data;
            }
        }
    }
    PyErr_SetString(PyExc_TypeError, "expected a cdata array of the benchmark's types");
    return NULL;
}

static int unpack(PyObject* args, Py_ssize_t count, const char* name) {
    if (PyTuple_GET_SIZE(args) == count) {
        return 1;
    }
    PyErr_Format(PyExc_TypeError, "%s expected %zd arguments", name, count);
    return 0;
}

/* setup(ffi.CData, (double array ctypes), (float ...), (MKL_Complex16 ...), `double *`,
 *       _cffi_backend._C_API) */
static PyObject* setup(PyObject* self, PyObject* args) {
    PyObject *base, *exports;
    if (!PyArg_ParseTuple(args, "OO!O!O!OO", &base, &PyTuple_Type, &array_types[doubles],
                          &PyTuple_Type, &array_types[floats], &PyTuple_Type,
                          &array_types[complex16s], &pointer_type, &exports)) {
        return NULL;
    }
    backend_exports = PyCapsule_GetPointer(exports, "cffi");
    if (backend_exports == NULL) {
        return NULL;
    }
    Py_INCREF(base);
    Py_INCREF(pointer_type);
    for (int i = 0; i < element_kinds; ++i) {
        Py_INCREF(array_types[i]);
    }
    cdata_base = (PyTypeObject*)base;
    Py_RETURN_NONE;
}

/* The one-input, one-output functions of the throughput comparison. */
#define FLOOR_ONE_INPUT(name, element, type)                                  \
    static PyObject* floor_##name(PyObject* self, PyObject* args) {           \
        if (!unpack(args, 3, #name)) return NULL;                             \
        int n = (int)PyLong_AsLong(PyTuple_GET_ITEM(args, 0));                \
        if (n == -1 && PyErr_Occurred()) return NULL;                         \
        type* a = array_address(PyTuple_GET_ITEM(args, 1), element);         \
        if (a == NULL) return NULL;                                           \
        type* r = array_address(PyTuple_GET_ITEM(args, 2), element);         \
        if (r == NULL) return NULL;                                           \
        Py_BEGIN_ALLOW_THREADS                                                \
        name(n, a, r);                                                        \
        Py_END_ALLOW_THREADS                                                  \
        Py_RETURN_NONE;                                                       \
    }

FLOOR_ONE_INPUT(vdExp, doubles, double)
FLOOR_ONE_INPUT(vsSin, floats, float)
FLOOR_ONE_INPUT(vdErfInv, doubles, double)

/* The two-input, one-output functions. */
#define FLOOR_TWO_INPUTS(name, element, type)                                 \
    static PyObject* floor_##name(PyObject* self, PyObject* args) {           \
        if (!unpack(args, 4, #name)) return NULL;                             \
        int n = (int)PyLong_AsLong(PyTuple_GET_ITEM(args, 0));                \
        if (n == -1 && PyErr_Occurred()) return NULL;                         \
        type* a = array_address(PyTuple_GET_ITEM(args, 1), element);         \
        if (a == NULL) return NULL;                                           \
        type* b = array_address(PyTuple_GET_ITEM(args, 2), element);         \
        if (b == NULL) return NULL;                                           \
        type* r = array_address(PyTuple_GET_ITEM(args, 3), element);         \
        if (r == NULL) return NULL;                                           \
        Py_BEGIN_ALLOW_THREADS                                                \
        name(n, a, b, r);                                                     \
        Py_END_ALLOW_THREADS                                                  \
        Py_RETURN_NONE;                                                       \
    }

FLOOR_TWO_INPUTS(vdAdd, doubles, double)
FLOOR_TWO_INPUTS(vzMul, complex16s, Complex16)

/* vdAdd with the count and every array converted by the backend, as the module does. */
static int backend_arguments(PyObject* args, int* n, char* pointers[3]) {
    typedef int (*ToInt)(PyObject*);
    typedef Py_ssize_t (*PreparePointer)(PyObject*, PyObject*, char**);
    *n = ((ToInt)backend_exports[to_c_i32_slot])(PyTuple_GET_ITEM(args, 0));
    if (*n == -1 && PyErr_Occurred()) return 0;
    for (int i = 0; i < 3; ++i) {
        PyObject* object = PyTuple_GET_ITEM(args, i + 1);
        if (((PreparePointer)backend_exports[prepare_pointer_slot])(pointer_type, object,
                                                                    &pointers[i]) != 0) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "expected a cdata array");
            return 0;
        }
    }
    return 1;
}

static PyObject* floor_vdAdd_through_backend(PyObject* self, PyObject* args) {
    int n;
    char* p[3];
    if (!unpack(args, 4, "vdAdd") || !backend_arguments(args, &n, p)) return NULL;
    Py_BEGIN_ALLOW_THREADS
    vdAdd(n, (double*)p[0], (double*)p[1], (double*)p[2]);
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

static PyObject* floor_vdAdd_with_errno(PyObject* self, PyObject* args) {
    typedef void (*ErrnoBracket)(void);
    int n;
    char* p[3];
    if (!unpack(args, 4, "vdAdd") || !backend_arguments(args, &n, p)) return NULL;
    Py_BEGIN_ALLOW_THREADS
    ((ErrnoBracket)backend_exports[restore_errno_slot])();
    vdAdd(n, (double*)p[0], (double*)p[1], (double*)p[2]);
    ((ErrnoBracket)backend_exports[save_errno_slot])();
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

static PyObject* floor_vmdLinearFrac(PyObject* self, PyObject* args) {
    if (!unpack(args, 9, "vmdLinearFrac")) return NULL;
    int n = (int)PyLong_AsLong(PyTuple_GET_ITEM(args, 0));
    if (n == -1 && PyErr_Occurred()) return NULL;
    double* a = array_address(PyTuple_GET_ITEM(args, 1), doubles);
    if (a == NULL) return NULL;
    double* b = array_address(PyTuple_GET_ITEM(args, 2), doubles);
    if (b == NULL) return NULL;
    double scalars[4];
    for (int i = 0; i < 4; ++i) {
        scalars[i] = PyFloat_AsDouble(PyTuple_GET_ITEM(args, 3 + i));
        if (scalars[i] == -1.0 && PyErr_Occurred()) return NULL;
    }
    double* r = array_address(PyTuple_GET_ITEM(args, 7), doubles);
    if (r == NULL) return NULL;
    long long mode = PyLong_AsLongLong(PyTuple_GET_ITEM(args, 8));
    if (mode == -1 && PyErr_Occurred()) return NULL;
    Py_BEGIN_ALLOW_THREADS
    vmdLinearFrac(n, a, b, scalars[0], scalars[1], scalars[2], scalars[3], r, mode);
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

/* The count arrives as a one-element list, as in `vdadd([1], a, b, r)`. */
static PyObject* floor_vdadd(PyObject* self, PyObject* args) {
    if (!unpack(args, 4, "vdadd")) return NULL;
    PyObject* count = PyTuple_GET_ITEM(args, 0);
    if (!PyList_Check(count) || PyList_GET_SIZE(count) != 1) {
        PyErr_SetString(PyExc_TypeError, "expected a one-element list");
        return NULL;
    }
    int n = (int)PyLong_AsLong(PyList_GET_ITEM(count, 0));
    if (n == -1 && PyErr_Occurred()) return NULL;
    double* a = array_address(PyTuple_GET_ITEM(args, 1), doubles);
    if (a == NULL) return NULL;
    double* b = array_address(PyTuple_GET_ITEM(args, 2), doubles);
    if (b == NULL) return NULL;
    double* r = array_address(PyTuple_GET_ITEM(args, 3), doubles);
    if (r == NULL) return NULL;
    Py_BEGIN_ALLOW_THREADS
    vdadd_(&n, a, b, r);
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

static PyObject* floor_vmlSetErrStatus(PyObject* self, PyObject* status_object) {
    int status = (int)PyLong_AsLong(status_object);
    if (status == -1 && PyErr_Occurred()) return NULL;
    int previous;
    Py_BEGIN_ALLOW_THREADS
    previous = vmlSetErrStatus(status);
    Py_END_ALLOW_THREADS
    return PyLong_FromLong(previous);
}

static PyObject* floor_vmlGetMode(PyObject* self, PyObject* unused) {
    unsigned int mode;
    Py_BEGIN_ALLOW_THREADS
    mode = vmlGetMode();
    Py_END_ALLOW_THREADS
    return PyLong_FromUnsignedLong(mode);
}

static PyMethodDef floor_methods[] = {
    {"setup", setup, METH_VARARGS, NULL},
    {"vdExp", floor_vdExp, METH_VARARGS, NULL},
    {"vsSin", floor_vsSin, METH_VARARGS, NULL},
    {"vdAdd", floor_vdAdd, METH_VARARGS, NULL},
    {"vzMul", floor_vzMul, METH_VARARGS, NULL},
    {"vdErfInv", floor_vdErfInv, METH_VARARGS, NULL},
    {"vdAdd_through_backend", floor_vdAdd_through_backend, METH_VARARGS, NULL},
    {"vdAdd_with_errno", floor_vdAdd_with_errno, METH_VARARGS, NULL},
    {"vmdLinearFrac", floor_vmdLinearFrac, METH_VARARGS, NULL},
    {"vdadd", floor_vdadd, METH_VARARGS, NULL},
    {"vmlSetErrStatus", floor_vmlSetErrStatus, METH_O, NULL},
    {"vmlGetMode", floor_vmlGetMode, METH_NOARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef floor_module = {
    PyModuleDef_HEAD_INIT, "bench_floor", NULL, -1, floor_methods,
};

PyMODINIT_FUNC PyInit_bench_floor(void) { return PyModule_Create(&floor_module); }
