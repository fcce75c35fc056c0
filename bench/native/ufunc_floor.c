/* The floor of vm's per-call cost: ufuncs built through NumPy's C API as vm's are, whose
 * inner loops do nothing but call the runtime, over contiguous float64 operands (any
 * other layout goes one element at a time). `exp_m` and `add_m` call the m forms in
 * the thread's accuracy with the error mode NOERR, as vm's short calls do; `exp` calls
 * the plain form. `exp_m` and `add_m` have vm's four loops (float32, float64, complex64,
 * complex128), so that NumPy picks a loop among as many; the benchmark calls the float64
 * one. What vm costs above `exp_m` is what its loop does besides computing.
 * Built by the benchmark with the system compiler; not part of the package. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include "runtime_functions.h"

static const long long noerr = 0x2000;

static int contiguous(const npy_intp* steps, int operands) {
    for (int k = 0; k < operands; ++k) {
        if (steps[k] != sizeof(double)) {
            return 0;
        }
    }
    return 1;
}

static void exp_m_loop(char** args, const npy_intp* dimensions, const npy_intp* steps,
                       void* data) {
    (void)data;
    const npy_intp n = dimensions[0];
    if (contiguous(steps, 2)) {
        vmdExp((int)n, (const double*)args[0], (double*)args[1], noerr);
        return;
    }
    for (npy_intp i = 0; i < n; ++i) {
        vmdExp(1, (const double*)(args[0] + i * steps[0]), (double*)(args[1] + i * steps[1]),
               noerr);
    }
}

static void exp_loop(char** args, const npy_intp* dimensions, const npy_intp* steps,
                     void* data) {
    (void)data;
    const npy_intp n = dimensions[0];
    if (contiguous(steps, 2)) {
        vdExp((int)n, (const double*)args[0], (double*)args[1]);
        return;
    }
    for (npy_intp i = 0; i < n; ++i) {
        vdExp(1, (const double*)(args[0] + i * steps[0]), (double*)(args[1] + i * steps[1]));
    }
}

static void add_m_loop(char** args, const npy_intp* dimensions, const npy_intp* steps,
                       void* data) {
    (void)data;
    const npy_intp n = dimensions[0];
    if (contiguous(steps, 3)) {
        vmdAdd((int)n, (const double*)args[0], (const double*)args[1], (double*)args[2],
               noerr);
        return;
    }
    for (npy_intp i = 0; i < n; ++i) {
        vmdAdd(1, (const double*)(args[0] + i * steps[0]),
               (const double*)(args[1] + i * steps[1]), (double*)(args[2] + i * steps[2]),
               noerr);
    }
}

/* The other precisions' loops, contiguous operands only (the benchmark does not call them). */
#define OTHER_LOOP_1(name, runtime)                                                         \
    static void name(char** args, const npy_intp* dimensions, const npy_intp* steps,        \
                     void* data) {                                                          \
        (void)steps, (void)data;                                                            \
        runtime((int)dimensions[0], (void*)args[0], (void*)args[1], noerr);                 \
    }
#define OTHER_LOOP_2(name, runtime)                                                         \
    static void name(char** args, const npy_intp* dimensions, const npy_intp* steps,        \
                     void* data) {                                                          \
        (void)steps, (void)data;                                                            \
        runtime((int)dimensions[0], (void*)args[0], (void*)args[1], (void*)args[2], noerr); \
    }
OTHER_LOOP_1(exp_s_loop, vmsExp)
OTHER_LOOP_1(exp_c_loop, vmcExp)
OTHER_LOOP_1(exp_z_loop, vmzExp)
OTHER_LOOP_2(add_s_loop, vmsAdd)
OTHER_LOOP_2(add_c_loop, vmcAdd)
OTHER_LOOP_2(add_z_loop, vmzAdd)

static PyUFuncGenericFunction exp_m_loops[] = {exp_s_loop, exp_m_loop, exp_c_loop, exp_z_loop};
static PyUFuncGenericFunction exp_loops[] = {exp_loop};
static PyUFuncGenericFunction add_m_loops[] = {add_s_loop, add_m_loop, add_c_loop, add_z_loop};
static void* no_data[] = {NULL, NULL, NULL, NULL};
static char one_input_types[] = {NPY_FLOAT, NPY_FLOAT, NPY_DOUBLE, NPY_DOUBLE,
                                 NPY_CFLOAT, NPY_CFLOAT, NPY_CDOUBLE, NPY_CDOUBLE};
static char two_input_types[] = {NPY_FLOAT,  NPY_FLOAT,  NPY_FLOAT,  NPY_DOUBLE,
                                 NPY_DOUBLE, NPY_DOUBLE, NPY_CFLOAT, NPY_CFLOAT,
                                 NPY_CFLOAT, NPY_CDOUBLE, NPY_CDOUBLE, NPY_CDOUBLE};
static char plain_types[] = {NPY_DOUBLE, NPY_DOUBLE};

static struct PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "bench_ufunc_floor", "ufuncs whose loops only call the runtime",
    -1, NULL, NULL, NULL, NULL, NULL,
};

static int add_ufunc(PyObject* module, const char* name, PyUFuncGenericFunction* loops,
                     char* types, int count, int inputs) {
    PyObject* ufunc = PyUFunc_FromFuncAndData(loops, no_data, types, count, inputs, 1,
                                              PyUFunc_None, name, "", 0);
    if (ufunc == NULL) {
        return -1;
    }
    return PyModule_AddObject(module, name, ufunc);
}

PyMODINIT_FUNC PyInit_bench_ufunc_floor(void) {
    import_array();
    import_umath();
    PyObject* module = PyModule_Create(&module_definition);
    if (module == NULL || add_ufunc(module, "exp_m", exp_m_loops, one_input_types, 4, 1) < 0 ||
        add_ufunc(module, "exp", exp_loops, plain_types, 1, 1) < 0 ||
        add_ufunc(module, "add_m", add_m_loops, two_input_types, 4, 2) < 0) {
        Py_XDECREF(module);
        return NULL;
    }
    return module;
}
