// The Python-level wrapper of an offered function, in the three shapes the backend
// registers: an argument tuple (two or more parameters), one argument, or none.
// Arguments are converted in declaration order, each completely before the next; the
// first refusal returns NULL and nothing else happens. Then, with no more Python code to
// run, the arguments' memory is pinned (released or read-only memory refused), the values
// the checks read are copied, arrays too short for the call and undefined modes are
// refused, all before the runtime runs.
// Only the runtime call itself runs without the interpreter lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bridge/argument_conversion.hpp"
#include "bridge/array_capacity.hpp"
#include "bridge/call_shape.hpp"
#include "bridge/checked_values.hpp"
#include "bridge/error_callback_keeper.hpp"
#include "bridge/fixed_string.hpp"
#include "bridge/length_check.hpp"
#include "bridge/memory_pins.hpp"
#include "bridge/mode_check.hpp"
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
auto call_runtime(Values& values) {
    using Result = typename RuntimeSignature<Runtime>::result;
    ReleasedInterpreter released;
    if constexpr (std::is_void_v<Result>) {
        std::apply(Runtime, values);
        return std::tuple<>{};
    } else {
        return std::apply(Runtime, values);
    }
}

template <class Values, class Scratch, std::size_t... I>
bool convert_arguments(PyObject* const* objects, Values& values, Py_ssize_t* capacity,
                       Scratch& scratch, std::index_sequence<I...>) {
    return (Argument<std::tuple_element_t<I, Values>>::convert(objects[I], std::get<I>(values),
                                                               capacity[I], scratch) &&
            ...);
}

// The argument tuple's items, borrowed. A tuple of another size goes to the
// interpreter's own unpacking, which reports the count error under the function's name.
template <FixedString Name, std::size_t... I>
bool unpack_tuple(PyObject* args, PyObject** objects, std::index_sequence<I...>) {
    constexpr Py_ssize_t count = sizeof...(I);
    if (PyTuple_GET_SIZE(args) == count) {
        ((objects[I] = PyTuple_GET_ITEM(args, I)), ...);
        return true;
    }
    return PyArg_UnpackTuple(args, Name.text, count, count, &objects[I]...) != 0;
}

template <class Result>
PyObject* python_result_of(const Result& result) {
    if constexpr (std::is_same_v<Result, std::tuple<>>) {
        return python_result();
    } else {
        return python_result(result);
    }
}

// Pins the memory of every array argument the backend accepted as memory of its own.
template <class Values, Role... Roles, class Pins, std::size_t... I>
bool pin_arguments(const char* function, PyObject* const* objects, Pins& pins,
                   std::index_sequence<I...>) {
    return ((!is_pointer_argument<std::tuple_element_t<I, Values>> ||
             pins.pin(objects[I], Roles == Role::output, function, I)) &&
            ...);
}

// The call itself, once the arguments are converted and checked. A function that sets,
// clears or returns the error callback exchanges the callback's owner around it.
template <auto Runtime, Family F, class Values>
PyObject* call_and_convert(PyObject* const* objects, Values& values) {
    using Result = typename RuntimeSignature<Runtime>::result;
    if constexpr (std::is_same_v<Result, VMLErrorCallBack>) {
        ErrorCallbackExchange exchange;
        bool ready;
        if constexpr (F == Family::error_callback_setter) {
            ready = exchange.before_setting(objects[0], std::get<0>(values));
        } else if constexpr (F == Family::error_callback_clearer) {
            ready = exchange.before_clearing();
        } else {
            ready = exchange.before_reading();
        }
        if (!ready) {
            return nullptr;
        }
        return exchange.result(call_runtime<Runtime>(values));
    } else {
        return python_result_of(call_runtime<Runtime>(values));
    }
}

template <FixedString Name, auto Runtime, Family F, Role... Roles>
PyObject* python_wrapper(PyObject* /*self*/, PyObject* argument) {
    using Signature = RuntimeSignature<Runtime>;
    using Values = typename Signature::parameters;
    constexpr std::size_t arity = Signature::arity;
    static_assert(sizeof...(Roles) == arity, "one role per parameter");

    Values values{};
    if constexpr (arity == 0) {
        return call_and_convert<Runtime, F>(nullptr, values);
    } else {
        PyObject* objects[arity];
        if constexpr (arity == 1) {
            objects[0] = argument;
        } else if (!unpack_tuple<Name>(argument, objects, std::make_index_sequence<arity>{})) {
            return nullptr;
        }
        constexpr std::size_t pointers = PointerCount<Values>::value;
        auto positions = std::make_index_sequence<arity>{};
        // Both live until the call returns: converted lists and private copies, and what
        // keeps the arguments' memory in place.
        ScratchAreas<2 * pointers> scratch;
        MemoryPins<pointers> pins;
        Py_ssize_t capacity[arity];
        std::fill(capacity, capacity + arity, unknown_capacity);
        if (!convert_arguments(objects, values, capacity, scratch, positions) ||
            !pin_arguments<Values, Roles...>(Name.text, objects, pins, positions) ||
            !copy_checked_values<Roles...>(values, capacity, scratch, positions) ||
            !check_lengths<F, Roles...>(Name.text, values, capacity) ||
            !check_modes<Roles...>(Name.text, values, positions)) {
            return nullptr;
        }
        return call_and_convert<Runtime, F>(objects, values);
    }
}

}  // namespace tessivec::bridge
