// One call of a vm math operation: arguments, loop, shapes, outputs, inputs, the runtime
// calls, the result. Every check runs before the runtime is called.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "dispatch/dtype_resolution.hpp"
#include "dispatch/operands.hpp"
#include "dispatch/operation.hpp"
#include "dispatch/strips.hpp"

namespace tessivec::dispatch {

namespace {

constexpr std::size_t max_positional = max_arrays + max_scalars;
constexpr unsigned long long largest_mode = 0xFFFFFFFFull;  // the runtime's modes are 32-bit

struct CallArguments {
    std::array<PyObject*, max_positional> positional{};
    PyObject* out = nullptr;  // nullptr when absent or None
    PyObject* mode = nullptr;
};

bool parse_arguments(const Operation& operation, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, CallArguments& arguments) {
    const auto expected = static_cast<Py_ssize_t>(operation.arrays + operation.scalars);
    if (nargs != expected) {
        PyErr_Format(PyExc_TypeError, "vm.%U() takes %zd positional argument%s (%zd given)",
                     operation.name, expected, expected == 1 ? "" : "s", nargs);
        return false;
    }
    std::copy(args, args + nargs, arguments.positional.begin());
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        PyObject* value = args[nargs + k] == Py_None ? nullptr : args[nargs + k];
        if (PyUnicode_CompareWithASCIIString(keyword, "out") == 0) {
            arguments.out = value;
        } else if (PyUnicode_CompareWithASCIIString(keyword, "mode") == 0) {
            arguments.mode = value;
        } else {
            PyErr_Format(PyExc_TypeError, "vm.%U() got an unexpected keyword argument '%U'",
                         operation.name, keyword);
            return false;
        }
    }
    return true;
}

bool convert_mode(const Operation& operation, PyObject* object, long long& mode) {
    if (!PyIndex_Check(object)) {
        PyErr_Format(PyExc_TypeError, "vm.%U: mode must be an integer, not %s", operation.name,
                     Py_TYPE(object)->tp_name);
        return false;
    }
    PyObject* index = PyNumber_Index(object);
    if (index == nullptr) {
        return false;
    }
    int overflow = 0;
    mode = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    if (mode == -1 && PyErr_Occurred()) {
        return false;
    }
    if (overflow != 0 || mode < 0 || static_cast<unsigned long long>(mode) > largest_mode) {
        PyErr_Format(PyExc_ValueError, "vm.%U: mode must be from 0 to 0xFFFFFFFF, not %R",
                     operation.name, object);
        return false;
    }
    return true;
}

PyObject* argument_name(const Operation& operation, std::size_t position) {
    return PyTuple_GET_ITEM(operation.parameter_names, static_cast<Py_ssize_t>(position));
}

// A scalar argument as a value of the loop's element type, at `into`.
bool convert_scalar(const Operation& operation, std::size_t position, PyObject* object,
                    int type, std::byte* into) {
    if (PyTypeNum_ISCOMPLEX(type)) {
        const Py_complex value = PyComplex_AsCComplex(object);
        if (value.real == -1.0 && PyErr_Occurred()) {
            return false;
        }
        if (type == NPY_CFLOAT) {
            const float parts[2] = {static_cast<float>(value.real), static_cast<float>(value.imag)};
            std::memcpy(into, parts, sizeof parts);
        } else {
            const double parts[2] = {value.real, value.imag};
            std::memcpy(into, parts, sizeof parts);
        }
        return true;
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_Format(PyExc_TypeError, "vm.%U: argument '%U' must be a real number, not %s",
                     operation.name, argument_name(operation, position), Py_TYPE(object)->tp_name);
        return false;
    }
    if (type == NPY_FLOAT) {
        const auto narrowed = static_cast<float>(value);
        std::memcpy(into, &narrowed, sizeof narrowed);
    } else {
        std::memcpy(into, &value, sizeof value);
    }
    return true;
}

bool prepare_outputs(const Operation& operation, const Loop& loop, const Shape& shape,
                     PyObject* out, std::array<Reference, max_outputs>& outputs) {
    std::array<PyObject*, max_outputs> given{};
    const bool tuple = out != nullptr && PyTuple_Check(out);
    if (tuple && PyTuple_GET_SIZE(out) == static_cast<Py_ssize_t>(operation.outputs)) {
        for (std::size_t i = 0; i < operation.outputs; ++i) {
            PyObject* item = PyTuple_GET_ITEM(out, static_cast<Py_ssize_t>(i));
            given[i] = item == Py_None ? nullptr : item;
        }
    } else if (out != nullptr && !tuple && operation.outputs == 1) {
        given[0] = out;
    } else if (out != nullptr) {
        PyErr_Format(PyExc_TypeError, "vm.%U: out must be %s", operation.name,
                     operation.outputs == 1 ? "an array or a tuple of one array"
                                            : "a tuple of two arrays");
        return false;
    }
    static constexpr const char* labels[][max_outputs] = {{"out", "out"}, {"out[0]", "out[1]"}};
    for (std::size_t i = 0; i < operation.outputs; ++i) {
        if (given[i] != nullptr) {
            if (!check_output(given[i], loop.output_type, shape, operation.name,
                              labels[operation.outputs - 1][i])) {
                return false;
            }
            outputs[i] = Reference::borrowed(given[i]);
        } else {
            outputs[i] = Reference(PyArray_SimpleNew(
                shape.ndim, const_cast<npy_intp*>(shape.dims.data()), loop.output_type));
            if (!outputs[i]) {
                return false;
            }
        }
    }
    return true;
}

// The result: `out` itself when given, else the new arrays (a 0-d one as a NumPy
// scalar, as NumPy's functions return it); a tuple for two outputs.
PyObject* result(const Operation& operation, PyObject* out,
                 std::array<Reference, max_outputs>& outputs) {
    const auto finish = [&](std::size_t i) -> PyObject* {
        PyObject* array = outputs[i].release();
        return out == nullptr ? PyArray_Return(reinterpret_cast<PyArrayObject*>(array)) : array;
    };
    if (operation.outputs == 1) {
        return finish(0);
    }
    PyObject* first = finish(0);
    PyObject* second = finish(1);
    PyObject* pair = first != nullptr && second != nullptr ? PyTuple_New(2) : nullptr;
    if (pair == nullptr) {
        Py_XDECREF(first);
        Py_XDECREF(second);
        return nullptr;
    }
    PyTuple_SET_ITEM(pair, 0, first);
    PyTuple_SET_ITEM(pair, 1, second);
    return pair;
}

}  // namespace

PyObject* call_operation(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    const Operation& operation = *reinterpret_cast<Operation*>(self);
    CallArguments arguments;
    if (!parse_arguments(operation, args, PyVectorcall_NARGS(nargs), kwnames, arguments)) {
        return nullptr;
    }
    long long mode = 0;
    if (arguments.mode != nullptr && !convert_mode(operation, arguments.mode, mode)) {
        return nullptr;
    }

    // Arrays and NumPy scalars promote by their dtype, Python scalars by their kind.
    const std::size_t positional = operation.arrays + operation.scalars;
    std::array<Reference, max_positional> arrays;
    std::array<PyArrayObject*, max_positional> strong{};
    std::size_t strong_count = 0;
    Kind weak = Kind::none;
    for (std::size_t i = 0; i < positional; ++i) {
        PyObject* object = arguments.positional[i];
        if (PyArray_Check(object)) {
            arrays[i] = Reference::borrowed(object);
        } else if (const Kind kind = python_scalar_kind(object); kind != Kind::none) {
            weak = std::max(weak, kind);
            continue;
        } else {
            arrays[i] = Reference(PyArray_FromAny(object, nullptr, 0, 0, 0, nullptr));
            if (!arrays[i]) {
                return nullptr;
            }
        }
        auto* array = reinterpret_cast<PyArrayObject*>(arrays[i].get());
        if (i >= operation.arrays && PyArray_NDIM(array) != 0) {
            PyErr_Format(PyExc_TypeError, "vm.%U: argument '%U' must be a scalar",
                         operation.name, argument_name(operation, i));
            return nullptr;
        }
        strong[strong_count++] = array;
    }
    const Loop* loop = resolve_loop(operation.name, operation.loops,
                                    std::span(strong.data(), strong_count), weak);
    if (loop == nullptr) {
        return nullptr;
    }

    // Python scalars among the arrays become arrays of the loop's type.
    Shape shape;
    for (std::size_t i = 0; i < operation.arrays; ++i) {
        if (!arrays[i]) {
            arrays[i] = Reference(PyArray_FromAny(arguments.positional[i],
                                                  PyArray_DescrFromType(loop->input_type), 0, 0,
                                                  NPY_ARRAY_FORCECAST, nullptr));
            if (!arrays[i]) {
                return nullptr;
            }
        }
        if (!broadcast_into(shape, reinterpret_cast<PyArrayObject*>(arrays[i].get()),
                            operation.name, argument_name(operation, i))) {
            return nullptr;
        }
    }

    alignas(max_element_size) std::array<std::byte, max_scalars * max_element_size> scalars{};
    for (std::size_t j = 0; j < operation.scalars; ++j) {
        const std::size_t position = operation.arrays + j;
        if (!convert_scalar(operation, position, arguments.positional[position],
                            loop->input_type, scalars.data() + j * loop->input_size)) {
            return nullptr;
        }
    }

    std::array<Reference, max_outputs> outputs;
    if (!prepare_outputs(operation, *loop, shape, arguments.out, outputs)) {
        return nullptr;
    }
    std::array<Reference, max_arrays> inputs;
    for (std::size_t i = 0; i < operation.arrays; ++i) {
        inputs[i] = contiguous_input(reinterpret_cast<PyArrayObject*>(arrays[i].get()),
                                     loop->input_type, shape,
                                     std::span(outputs.data(), operation.outputs),
                                     loop->output_size);
        if (!inputs[i]) {
            return nullptr;
        }
    }

    if (!run_strips(*loop, arguments.mode != nullptr ? &mode : nullptr, inputs,
                    std::span(outputs.data(), operation.outputs), scalars.data(), shape.size(),
                    operation.name)) {
        return nullptr;
    }
    return result(operation, arguments.out, outputs);
}

}  // namespace tessivec::dispatch
