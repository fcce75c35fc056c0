// A loop: the by-value runtime function of one precision, plain and in its m form,
// called on one strip of contiguous elements. Everything a loop needs to know (how
// many arrays, scalars and outputs, their NumPy types and sizes) is read off the
// runtime function's declaration; the generated table only names the functions.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bridge/runtime_signature.hpp"
#include "dispatch/numpy_api.hpp"
#include "runtime/runtime_functions.hpp"

namespace tessivec::dispatch {

inline constexpr std::size_t max_arrays = 2;
inline constexpr std::size_t max_scalars = 4;
inline constexpr std::size_t max_outputs = 2;
inline constexpr std::size_t max_element_size = sizeof(runtime::MKL_Complex16);

// The arguments of one runtime call: pointers to the strip's first elements, and the
// scalars as consecutive values of the loop's element type.
struct Strip {
    int count = 0;
    std::array<const void*, max_arrays> inputs{};
    std::array<void*, max_outputs> outputs{};
    const std::byte* scalars = nullptr;
    long long mode = 0;
};

template <class T>
struct Element;
template <>
struct Element<float> {
    static constexpr int type_number = NPY_FLOAT;
};
template <>
struct Element<double> {
    static constexpr int type_number = NPY_DOUBLE;
};
template <>
struct Element<runtime::MKL_Complex8> {
    static constexpr int type_number = NPY_CFLOAT;
};
template <>
struct Element<runtime::MKL_Complex16> {
    static constexpr int type_number = NPY_CDOUBLE;
};

enum class Slot { count, input, output, scalar, mode };

// Math functions take the count as their only int and the mode as their only long long;
// arrays are read-only pointers for inputs and writable ones for outputs.
template <class Parameter>
constexpr Slot slot_of() {
    if constexpr (std::is_same_v<Parameter, int>) {
        return Slot::count;
    } else if constexpr (std::is_same_v<Parameter, long long>) {
        return Slot::mode;
    } else if constexpr (std::is_pointer_v<Parameter>) {
        return std::is_const_v<std::remove_pointer_t<Parameter>> ? Slot::input : Slot::output;
    } else {
        return Slot::scalar;
    }
}

template <class Parameters, Slot S, std::size_t... J>
constexpr std::size_t count_in_slot(std::index_sequence<J...>) {
    return (std::size_t{0} + ... + (slot_of<std::tuple_element_t<J, Parameters>>() == S));
}

// How many parameters before parameter I fill the same slot: its index among them.
template <class Parameters, std::size_t I>
constexpr std::size_t ordinal_in_slot() {
    return count_in_slot<Parameters, slot_of<std::tuple_element_t<I, Parameters>>()>(
        std::make_index_sequence<I>{});
}

template <class Parameters, Slot S>
constexpr std::size_t slot_count() {
    return count_in_slot<Parameters, S>(std::make_index_sequence<std::tuple_size_v<Parameters>>{});
}

// The element type behind the first parameter of a slot.
// The end of the list is a separate flag: Clang and GCC before 12 reject a partial
// specialisation on the dependent std::tuple_size_v<Parameters> itself.
template <class Parameters, Slot S, std::size_t I = 0,
          bool End = (I == std::tuple_size_v<Parameters>)>
struct FirstOfSlot {
    using Parameter = std::tuple_element_t<I, Parameters>;
    using type = std::conditional_t<slot_of<Parameter>() == S,
                                    std::remove_cv_t<std::remove_pointer_t<Parameter>>,
                                    typename FirstOfSlot<Parameters, S, I + 1>::type>;
};
template <class Parameters, Slot S, std::size_t I>
struct FirstOfSlot<Parameters, S, I, true> {
    using type = void;
};

template <class Parameters, std::size_t I>
auto argument(const Strip& strip) {
    using Parameter = std::tuple_element_t<I, Parameters>;
    constexpr Slot slot = slot_of<Parameter>();
    constexpr std::size_t k = ordinal_in_slot<Parameters, I>();
    if constexpr (slot == Slot::count) {
        return strip.count;
    } else if constexpr (slot == Slot::mode) {
        return strip.mode;
    } else if constexpr (slot == Slot::input) {
        return static_cast<Parameter>(strip.inputs[k]);
    } else if constexpr (slot == Slot::output) {
        return static_cast<Parameter>(strip.outputs[k]);
    } else {
        Parameter value;
        std::memcpy(&value, strip.scalars + k * sizeof(Parameter), sizeof(Parameter));
        return value;
    }
}

template <auto Runtime>
void invoke(const Strip& strip) {
    using Parameters = typename bridge::RuntimeSignature<Runtime>::parameters;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        Runtime(argument<Parameters, I>(strip)...);
    }(std::make_index_sequence<std::tuple_size_v<Parameters>>{});
}

struct Loop {
    int input_type;  // NumPy type of the array inputs and the scalars
    int output_type;
    std::size_t input_size;  // bytes per element
    std::size_t output_size;
    std::size_t arrays;
    std::size_t scalars;
    std::size_t outputs;
    void (*plain)(const Strip&);
    void (*with_mode)(const Strip&);
    const char* plain_name;
    const char* mode_name;
};

template <auto Plain, auto WithMode>
constexpr Loop loop(const char* plain_name, const char* mode_name) {
    using Parameters = typename bridge::RuntimeSignature<Plain>::parameters;
    using ModeParameters = typename bridge::RuntimeSignature<WithMode>::parameters;
    static_assert(std::is_same_v<decltype(std::tuple_cat(std::declval<Parameters>(),
                                                         std::tuple<long long>{})),
                                 ModeParameters>,
                  "the m form takes the plain form's parameters and the mode");
    using Input = typename FirstOfSlot<Parameters, Slot::input>::type;
    using Output = typename FirstOfSlot<Parameters, Slot::output>::type;
    using Scalar = typename FirstOfSlot<Parameters, Slot::scalar>::type;
    static_assert(std::is_void_v<Scalar> || std::is_same_v<Scalar, Input>,
                  "scalars are of the array inputs' element type");
    static_assert(sizeof(Input) <= max_element_size && sizeof(Output) <= max_element_size);
    constexpr std::size_t arrays = slot_count<Parameters, Slot::input>();
    constexpr std::size_t scalars = slot_count<Parameters, Slot::scalar>();
    constexpr std::size_t outputs = slot_count<Parameters, Slot::output>();
    static_assert(arrays <= max_arrays && scalars <= max_scalars && outputs <= max_outputs);
    return Loop{Element<Input>::type_number, Element<Output>::type_number, sizeof(Input),
                sizeof(Output), arrays, scalars, outputs, &invoke<Plain>, &invoke<WithMode>,
                plain_name, mode_name};
}

}  // namespace tessivec::dispatch
