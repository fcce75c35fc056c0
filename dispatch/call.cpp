// One call of a vm math operation: arguments, loop, shapes, outputs, inputs, the runtime
// calls, the result. Every check runs before the runtime is called.
#include <algorithm>
#include <array>
#include <cstddef>

#include "dispatch/call_arguments.hpp"
#include "dispatch/dtype_resolution.hpp"
#include "dispatch/operands.hpp"
#include "dispatch/operation.hpp"
#include "dispatch/strips.hpp"

namespace tessivec::dispatch {

namespace {

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

// The positional arguments as promotion sees them: arrays and NumPy scalars by their
// dtype, Python scalars by their kind only.
struct Operands {
    std::array<Reference, max_positional> arrays;  // empty for a Python scalar
    std::array<PyArrayObject*, max_positional> strong{};
    std::size_t strong_count = 0;
    Kind weak = Kind::none;
};

bool gather_operands(const Operation& operation, const CallArguments& arguments,
                     Operands& operands) {
    for (std::size_t i = 0; i < operation.arrays + operation.scalars; ++i) {
        PyObject* object = arguments.positional[i];
        if (PyArray_Check(object)) {
            operands.arrays[i] = Reference::borrowed(object);
        } else if (const Kind kind = python_scalar_kind(object); kind != Kind::none) {
            operands.weak = std::max(operands.weak, kind);
            continue;
        } else {
            operands.arrays[i] = Reference(PyArray_FromAny(object, nullptr, 0, 0, 0, nullptr));
            if (!operands.arrays[i]) {
                return false;
            }
        }
        auto* array = reinterpret_cast<PyArrayObject*>(operands.arrays[i].get());
        if (i >= operation.arrays && PyArray_NDIM(array) != 0) {
            PyErr_Format(PyExc_TypeError, "vm.%U: argument '%U' must be a scalar",
                         operation.name, argument_name(operation, i));
            return false;
        }
        operands.strong[operands.strong_count++] = array;
    }
    return true;
}

// The result's shape; Python scalars among the arrays become arrays of the loop's type.
bool broadcast_arrays(const Operation& operation, const CallArguments& arguments,
                      const Loop& loop, Operands& operands, Shape& shape) {
    for (std::size_t i = 0; i < operation.arrays; ++i) {
        Reference& array = operands.arrays[i];
        if (!array) {
            array = Reference(PyArray_FromAny(arguments.positional[i],
                                              PyArray_DescrFromType(loop.input_type), 0, 0,
                                              NPY_ARRAY_FORCECAST, nullptr));
            if (!array) {
                return false;
            }
        }
        if (!broadcast_into(shape, reinterpret_cast<PyArrayObject*>(array.get()),
                            operation.name, argument_name(operation, i))) {
            return false;
        }
    }
    return true;
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
    Operands operands;
    if (!gather_operands(operation, arguments, operands)) {
        return nullptr;
    }
    const Loop* loop = resolve_loop(operation.name, operation.loops,
                                    std::span(operands.strong.data(), operands.strong_count),
                                    operands.weak);
    Shape shape;
    alignas(max_element_size) std::array<std::byte, max_scalars * max_element_size> scalars{};
    if (loop == nullptr || !broadcast_arrays(operation, arguments, *loop, operands, shape) ||
        !convert_scalars(operation, arguments, loop->input_type, loop->input_size,
                         scalars.data())) {
        return nullptr;
    }

    std::array<Reference, max_outputs> outputs;
    if (!prepare_outputs(operation, *loop, shape, arguments.out, outputs)) {
        return nullptr;
    }
    const std::span<const Reference> written(outputs.data(), operation.outputs);
    std::array<Reference, max_arrays> inputs;
    for (std::size_t i = 0; i < operation.arrays; ++i) {
        inputs[i] = contiguous_input(reinterpret_cast<PyArrayObject*>(operands.arrays[i].get()),
                                     loop->input_type, shape, written, loop->output_size);
        if (!inputs[i]) {
            return nullptr;
        }
    }
    if (!run_strips(*loop, arguments.mode != nullptr ? &mode : nullptr, inputs, written,
                    scalars.data(), shape.size(), operation.name)) {
        return nullptr;
    }
    return result(operation, arguments.out, outputs);
}

}  // namespace tessivec::dispatch
