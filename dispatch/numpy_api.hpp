// NumPy's C API, arrays and ufuncs, as every file of the extension sees it. The entry
// file defines DISPATCH_IMPORTS_NUMPY and fills the API tables when the module is imported.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#define NPY_TARGET_VERSION NPY_2_0_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL vantrel_mkl_dispatch_ARRAY_API
#define PY_UFUNC_UNIQUE_SYMBOL vantrel_mkl_dispatch_UFUNC_API
#ifndef DISPATCH_IMPORTS_NUMPY
#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#endif
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>
