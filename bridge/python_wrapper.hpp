// The Python-level wrapper of an offered function, in the three shapes the backend
// registers: an argument tuple (two or more parameters), one argument, or none.
// Arguments are converted in declaration order, each completely before the next; the
// first refusal returns NULL and nothing else happens. Only the runtime call itself
// runs without the interpreter lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bridge/argument_conversion.hpp"
#include "bridge/fixed_string.hpp"
#include "bridge/released_interpreter.hpp"
#include "bridge/result_conversion.hpp"
#include "bridge/runtime_signature.hpp"
#include "bridge/scratch_areas.hpp"

namespace tessivec::bridge {

template <class Parameters>
struct PointerCount;

template <class... Parameters>
struct PointerCount<std::tuple<Parameters...>> {
    static constexpr std::size_t value = (std::size_t{0} + ... + is_pointer_argument<Parameters>);
};

template <auto Runtime, class Values>
PyObject* call_runtime(Values& values) {
    using Result = typename RuntimeSignature<Runtime>::result;
    if constexpr (std::is_void_v<Result>) {
        {
            ReleasedInterpreter released;
            std::apply(Runtime, values);
        }
        return python_result();
    } else {
        Result result;
        {
            ReleasedInterpreter released;
            result = std::apply(Runtime, values);
        }
        return python_result(result);
    }
}

template <class Values, class Scratch, std::size_t... I>
bool convert_arguments(PyObject* const* objects, Values& values, Scratch& scratch,
                       std::index_sequence<I...>) {
    return (Argument<std::tuple_element_t<I, Values>>::convert(objects[I], std::get<I>(values),
                                                               scratch) &&
            ...);
}

// The items are read straight from the tuple when their number is right; only a wrong
// number goes through PyArg_UnpackTuple, for the interpreter's own error message. Its
// variadic interface costs some ninety instructions on every call.
template <FixedString Name, std::size_t... I>
bool unpack_tuple(PyObject* args, PyObject** objects, std::index_sequence<I...>) {
    constexpr Py_ssize_t count = sizeof...(I);
    if (PyTuple_GET_SIZE(args) == count) {
        ((objects[I] = PyTuple_GET_ITEM(args, I)), ...);
        return true;
    }
    return PyArg_UnpackTuple(args, Name.text, count, count, &objects[I]...) != 0;
}

template <FixedString Name, auto Runtime>
PyObject* python_wrapper(PyObject* /*self*/, PyObject* argument) {
    using Signature = RuntimeSignature<Runtime>;
    using Values = typename Signature::parameters;
    constexpr std::size_t arity = Signature::arity;

    Values values{};
    if constexpr (arity == 0) {
        return call_runtime<Runtime>(values);
    } else {
        PyObject* objects[arity];
        if constexpr (arity == 1) {
            objects[0] = argument;
        } else if (!unpack_tuple<Name>(argument, objects, std::make_index_sequence<arity>{})) {
            return nullptr;
        }
        ScratchAreas<PointerCount<Values>::value> scratch;
        if (!convert_arguments(objects, values, scratch, std::make_index_sequence<arity>{})) {
            return nullptr;
        }
        return call_runtime<Runtime>(values);
    }
}

}  // namespace tessivec::bridge
