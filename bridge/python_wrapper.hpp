// The Python-level wrapper of an offered function, in the three shapes the backend
// registers: an argument tuple (two or more parameters), one argument, or none.
// Arguments are converted in declaration order, each completely before the next; the
// first refusal returns NULL and nothing else happens. Then, with no more Python code to
// run, the arguments' memory is pinned (released or read-only memory refused), the values
// the checks read are copied, arrays too short for the call and undefined modes are
// refused, all before the runtime runs.
// Only the runtime call itself runs without the interpreter lock.
//
// The backend registers a distinct entry per function, but the work is the same for
// every function of one type and shape: each entry only hands its name (for the error
// messages) and its runtime function to the body that all functions of its type and
// shape share.
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
#include "bridge/runtime_call_bracket.hpp"
#include "bridge/result_conversion.hpp"
#include "bridge/scratch_areas.hpp"

namespace tessivec::bridge {

template <class Parameters>
struct PointerCount;

template <class... Parameters>
struct PointerCount<std::tuple<Parameters...>> {
    static constexpr std::size_t value = (std::size_t{0} + ... + is_pointer_argument<Parameters>);
};

template <class Result, class... Parameters>
auto call_runtime(Result (*runtime)(Parameters...), std::tuple<Parameters...>& values) {
    RuntimeCallBracket bracket;
    if constexpr (std::is_void_v<Result>) {
        std::apply(runtime, values);
        return std::tuple<>{};
    } else {
        return std::apply(runtime, values);
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
template <std::size_t... I>
bool unpack_tuple(const char* function, PyObject* args, PyObject** objects,
                  std::index_sequence<I...>) {
    constexpr Py_ssize_t count = sizeof...(I);
    if (PyTuple_GET_SIZE(args) == count) {
        ((objects[I] = PyTuple_GET_ITEM(args, I)), ...);
        return true;
    }
    return PyArg_UnpackTuple(args, function, count, count, &objects[I]...) != 0;
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
             pins.pin(objects[I], traits_of(Roles).written, function, I)) &&
            ...);
}

// The call itself, once the arguments are converted and checked. A function that sets,
// clears or returns the error callback exchanges the callback's owner around it.
template <Family F, class Result, class... Parameters>
PyObject* call_and_convert(Result (*runtime)(Parameters...), PyObject* const* objects,
                           std::tuple<Parameters...>& values) {
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
        return exchange.result(call_runtime(runtime, values));
    } else {
        return python_result_of(call_runtime(runtime, values));
    }
}

// The body shared by every function of one type, family and parameter roles.
template <Family F, Role... Roles, class Result, class... Parameters>
PyObject* shared_wrapper(const char* function, Result (*runtime)(Parameters...),
                         PyObject* argument) {
    using Values = std::tuple<Parameters...>;
    constexpr std::size_t arity = sizeof...(Parameters);
    static_assert(sizeof...(Roles) == arity, "one role per parameter");

    Values values{};
    if constexpr (arity == 0) {
        return call_and_convert<F>(runtime, nullptr, values);
    } else {
        PyObject* objects[arity];
        if constexpr (arity == 1) {
            objects[0] = argument;
        } else if (!unpack_tuple(function, argument, objects, std::make_index_sequence<arity>{})) {
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
            !pin_arguments<Values, Roles...>(function, objects, pins, positions) ||
            !copy_checked_values<Roles...>(values, capacity, scratch, positions) ||
            !check_lengths<F, Roles...>(function, values, capacity) ||
            !check_modes<Roles...>(function, values, positions)) {
            return nullptr;
        }
        return call_and_convert<F>(runtime, objects, values);
    }
}

// The entry the backend registers for one function: a forwarder to its shared body.
template <FixedString Name, auto Runtime, Family F, Role... Roles>
PyObject* python_wrapper(PyObject* /*self*/, PyObject* argument) {
    return shared_wrapper<F, Roles...>(Name.text, Runtime, argument);
}

}  // namespace tessivec::bridge
