// The inner loop NumPy calls for one precision of one operation. Which operands are
// arrays, scalars or outputs the generated loop table says, from the catalogue's roles;
// their element types are read off the declaration of the runtime function's m form
// (the count first, the mode last, read-only pointers for array inputs, values for
// scalar inputs, writable pointers for outputs, in the order the ufunc takes its
// operands), which must agree with the roles.
#pragma once

#include <cstddef>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bridge/runtime_signature.hpp"
#include "dispatch/numpy_api.hpp"
#include "dispatch/run_driver.hpp"
#include "runtime/runtime_functions.hpp"

namespace tessivec::dispatch {

template <class T>
struct TypeNumber;
template <>
struct TypeNumber<float> : std::integral_constant<char, NPY_FLOAT> {};
template <>
struct TypeNumber<double> : std::integral_constant<char, NPY_DOUBLE> {};
template <>
struct TypeNumber<runtime::MKL_Complex8> : std::integral_constant<char, NPY_CFLOAT> {};
template <>
struct TypeNumber<runtime::MKL_Complex16> : std::integral_constant<char, NPY_CDOUBLE> {};

// The kind the declaration gives a parameter, which must be the one the catalogue's role
// gives it.
template <class Parameter>
constexpr OperandKind declared_kind() {
    if constexpr (!std::is_pointer_v<Parameter>) {
        return OperandKind::scalar;
    } else if constexpr (std::is_const_v<std::remove_pointer_t<Parameter>>) {
        return OperandKind::array;
    } else {
        return OperandKind::output;
    }
}

template <class Parameter>
using ElementOf = std::remove_cv_t<std::remove_pointer_t<Parameter>>;

template <class Parameter>
Parameter argument(void* operand) {
    if constexpr (std::is_pointer_v<Parameter>) {
        return static_cast<Parameter>(operand);
    } else {
        Parameter value;
        std::memcpy(&value, operand, sizeof value);
        return value;
    }
}

template <auto Runtime>
struct RuntimeOperands {
    using all = typename bridge::RuntimeSignature<Runtime>::parameters;
    static constexpr std::size_t size = std::tuple_size_v<all>;
    static_assert(size >= 3 && size - 2 <= max_operands, "count, operands, mode");
    static_assert(std::is_same_v<std::tuple_element_t<0, all>, int>, "the count comes first");
    static_assert(std::is_same_v<std::tuple_element_t<size - 1, all>, long long>,
                  "the mode comes last");
    template <std::size_t I>
    using operand = std::tuple_element_t<I + 1, all>;
    using indexes = std::make_index_sequence<size - 2>;
};

template <auto Runtime, std::size_t... I>
void invoke_runtime(int count, void* const* operands, long long mode,
                    std::index_sequence<I...>) {
    using Operands = RuntimeOperands<Runtime>;
    Runtime(count, argument<typename Operands::template operand<I>>(operands[I])..., mode);
}

template <auto Runtime>
void call_runtime(int count, void* const* operands, long long mode) {
    invoke_runtime<Runtime>(count, operands, mode, typename RuntimeOperands<Runtime>::indexes{});
}

template <auto Runtime, OperandKind... Kinds, std::size_t... I>
constexpr Shape shape_of(std::index_sequence<I...>) {
    using Operands = RuntimeOperands<Runtime>;
    static_assert(sizeof...(Kinds) == sizeof...(I), "one kind per operand");
    static_assert(((Kinds == declared_kind<typename Operands::template operand<I>>()) && ...),
                  "the declaration agrees with the catalogue's roles");
    Shape shape{};
    shape.operands = sizeof...(I);
    ((shape.kinds[I] = Kinds), ...);
    ((shape.sizes[I] = sizeof(ElementOf<typename Operands::template operand<I>>)), ...);
    ((shape.types[I] = TypeNumber<ElementOf<typename Operands::template operand<I>>>::value),
     ...);
    return shape;
}

template <auto Runtime, OperandKind... Kinds>
inline constexpr Shape shape_of_runtime = shape_of<Runtime, Kinds...>(
    typename RuntimeOperands<Runtime>::indexes{});

template <auto Runtime, OperandKind... Kinds>
void inner_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data) {
    run(shape_of_runtime<Runtime, Kinds...>, &call_runtime<Runtime>, args, dimensions[0],
        steps, *static_cast<const LoopSetting*>(data));
}

// One loop of a ufunc: NumPy's loop function and the operands' types.
struct Loop {
    PyUFuncGenericFunction function;
    const Shape* shape;
};

// A loop of the m form `Runtime`, whose operands (in the ufunc's order) are of `Kinds`.
template <auto Runtime, OperandKind... Kinds>
constexpr Loop loop() {
    return Loop{&inner_loop<Runtime, Kinds...>, &shape_of_runtime<Runtime, Kinds...>};
}

struct Operation {
    const char* name;
    const Loop* loops_begin;
    std::size_t loop_count;
    int identity;
    const char* doc;

    template <std::size_t N>
    constexpr Operation(const char* name, const Loop (&loops)[N], int identity, const char* doc)
        : name(name), loops_begin(loops), loop_count(N), identity(identity), doc(doc) {}
};

// A gather or scatter function's docstring, by its name in vm.
struct PackDoc {
    const char* name;
    const char* doc;
};

}  // namespace tessivec::dispatch
