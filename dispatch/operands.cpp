#include "dispatch/operands.hpp"

#include <algorithm>
#include <cstring>

#include "dispatch/dtype_resolution.hpp"

namespace tessivec::dispatch {

namespace {

PyObject* shape_tuple(int ndim, const npy_intp* dims) {
    PyObject* tuple = PyTuple_New(ndim);
    for (int i = 0; tuple != nullptr && i < ndim; ++i) {
        PyObject* item = PyLong_FromSsize_t(dims[i]);
        if (item == nullptr) {
            Py_CLEAR(tuple);
            break;
        }
        PyTuple_SET_ITEM(tuple, i, item);
    }
    return tuple;
}

bool same_shape(PyArrayObject* array, const Shape& shape) {
    return PyArray_NDIM(array) == shape.ndim &&
           std::equal(shape.dims.begin(), shape.dims.begin() + shape.ndim, PyArray_DIMS(array));
}

bool overlaps(const char* a, std::size_t a_bytes, const char* b, std::size_t b_bytes) {
    return a < b + b_bytes && b < a + a_bytes;
}

bool shares_memory_with_outputs(PyArrayObject* array, const Shape& shape,
                                std::span<const Reference> outputs, std::size_t output_size) {
    const auto* data = static_cast<const char*>(PyArray_DATA(array));
    const std::size_t bytes = static_cast<std::size_t>(shape.size()) * PyArray_ITEMSIZE(array);
    for (const Reference& output : outputs) {
        if (!output) {
            continue;
        }
        const auto* out = static_cast<const char*>(
            PyArray_DATA(reinterpret_cast<PyArrayObject*>(output.get())));
        const std::size_t out_bytes = static_cast<std::size_t>(shape.size()) * output_size;
        const bool in_place = data == out && bytes == out_bytes;
        if (!in_place && overlaps(data, bytes, out, out_bytes)) {
            return true;
        }
    }
    return false;
}

}  // namespace

npy_intp Shape::size() const {
    npy_intp size = 1;
    for (int i = 0; i < ndim; ++i) {
        size *= dims[i];
    }
    return size;
}

bool broadcast_into(Shape& shape, PyArrayObject* array, PyObject* function_name,
                    PyObject* argument_name) {
    const int ndim = PyArray_NDIM(array);
    const npy_intp* dims = PyArray_DIMS(array);
    Shape wider;
    wider.ndim = std::max(shape.ndim, ndim);
    for (int i = 1; i <= wider.ndim; ++i) {
        const npy_intp have = i <= shape.ndim ? shape.dims[shape.ndim - i] : 1;
        const npy_intp give = i <= ndim ? dims[ndim - i] : 1;
        if (have != give && have != 1 && give != 1) {
            PyObject* given = shape_tuple(ndim, dims);
            PyObject* so_far = shape_tuple(shape.ndim, shape.dims.data());
            if (given != nullptr && so_far != nullptr) {
                PyErr_Format(PyExc_ValueError,
                             "vm.%U: argument '%U' of shape %R does not broadcast against "
                             "shape %R",
                             function_name, argument_name, given, so_far);
            }
            Py_XDECREF(given);
            Py_XDECREF(so_far);
            return false;
        }
        wider.dims[wider.ndim - i] = have == 1 ? give : have;
    }
    shape = wider;
    return true;
}

Reference contiguous_input(PyArrayObject* array, int type, const Shape& shape,
                           std::span<const Reference> outputs, std::size_t output_size) {
    const bool usable = PyArray_TYPE(array) == type && PyArray_ISNOTSWAPPED(array) &&
                        PyArray_ISALIGNED(array) && PyArray_IS_C_CONTIGUOUS(array) &&
                        same_shape(array, shape) &&
                        !shares_memory_with_outputs(array, shape, outputs, output_size);
    if (usable) {
        return Reference::borrowed(reinterpret_cast<PyObject*>(array));
    }
    Reference copy(PyArray_SimpleNew(shape.ndim, const_cast<npy_intp*>(shape.dims.data()), type));
    if (!copy || PyArray_CopyInto(reinterpret_cast<PyArrayObject*>(copy.get()), array) < 0) {
        return Reference();
    }
    return copy;
}

bool check_output(PyObject* out, int type, const Shape& shape, PyObject* function_name,
                  const char* label) {
    if (!PyArray_Check(out)) {
        PyErr_Format(PyExc_TypeError, "vm.%U: %s must be a numpy.ndarray, not %s", function_name,
                     label, Py_TYPE(out)->tp_name);
        return false;
    }
    auto* array = reinterpret_cast<PyArrayObject*>(out);
    if (PyArray_TYPE(array) != type || !PyArray_ISNOTSWAPPED(array)) {
        PyErr_Format(PyExc_TypeError, "vm.%U: %s has dtype %S, the result's dtype is %s",
                     function_name, label, reinterpret_cast<PyObject*>(PyArray_DESCR(array)),
                     type_name(type));
        return false;
    }
    if (!same_shape(array, shape)) {
        PyObject* given = shape_tuple(PyArray_NDIM(array), PyArray_DIMS(array));
        PyObject* wanted = shape_tuple(shape.ndim, shape.dims.data());
        if (given != nullptr && wanted != nullptr) {
            PyErr_Format(PyExc_ValueError, "vm.%U: %s has shape %R, the result's shape is %R",
                         function_name, label, given, wanted);
        }
        Py_XDECREF(given);
        Py_XDECREF(wanted);
        return false;
    }
    const char* fault = !PyArray_ISWRITEABLE(array)        ? "is read-only"
                        : !PyArray_IS_C_CONTIGUOUS(array) ? "is not C-contiguous"
                        : !PyArray_ISALIGNED(array)       ? "is not aligned"
                                                          : nullptr;
    if (fault != nullptr) {
        PyErr_Format(PyExc_ValueError, "vm.%U: %s %s", function_name, label, fault);
        return false;
    }
    return true;
}

}  // namespace tessivec::dispatch
