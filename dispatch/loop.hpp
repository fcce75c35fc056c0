// The inner loop NumPy calls for one precision of one operation. The generated loop
// table gives each operation its rules (the kind of each operand in the ufunc's order,
// from the catalogue's roles; where each operand stands among the runtime function's
// parameters; NumPy's formula where vm evaluates the conditions; NumPy's rule for
// reduce where it has one). The operands' element types are read off the declaration
// of the runtime function's m form (the count first, the mode last, read-only pointers
// for array inputs, values for scalar inputs, writable pointers for outputs), which
// must agree with the roles.
#pragma once

#include <cstddef>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "common/runtime_signature.hpp"
#include "dispatch/element_types.hpp"
#include "dispatch/floating_point_state.hpp"
#include "dispatch/formulas.hpp"
#include "dispatch/mode_values.hpp"
#include "dispatch/numpy_api.hpp"
#include "dispatch/reduction.hpp"
#include "dispatch/run_driver.hpp"
#include "dispatch/runtime_session.hpp"
#include "runtime/runtime_math.hpp"
#include "runtime/runtime_vm_only_math.hpp"

namespace tessivec::dispatch {

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

// A ufunc that has no formula of NumPy's to evaluate: the runtime reports its conditions.
struct NoFormula {};

// One loop: the m form `Runtime` under an operation's `Rules`.
template <auto Runtime, class Rules>
struct LoopOf {
    using all = typename common::RuntimeSignature<Runtime>::parameters;
    static constexpr std::size_t size = std::tuple_size_v<all>;
    static_assert(size >= 3 && size - 2 <= max_operands, "count, operands, mode");
    static_assert(std::is_same_v<std::tuple_element_t<0, all>, int>, "the count comes first");
    static_assert(std::is_same_v<std::tuple_element_t<size - 1, all>, long long>,
                  "the mode comes last");
    static constexpr std::size_t operands = size - 2;
    static_assert(std::size(Rules::kinds) == operands && std::size(Rules::order) == operands,
                  "one kind and one place per operand");

    // The runtime's parameter that ufunc operand K is.
    template <std::size_t K>
    using operand = std::tuple_element_t<Rules::order[K] + 1, all>;

    // The ufunc operand that the runtime's parameter P (after the count) is.
    static constexpr std::size_t operand_at(std::size_t parameter) {
        for (std::size_t k = 0; k < operands; ++k) {
            if (Rules::order[k] == parameter) {
                return k;
            }
        }
        return operands;
    }

    template <std::size_t... P>
    static void invoke(int count, void* const* ufunc_operands, long long mode,
                       std::index_sequence<P...>) {
        Runtime(count,
                argument<std::tuple_element_t<P + 1, all>>(ufunc_operands[operand_at(P)])...,
                mode);
    }
    static void call(int count, void* const* ufunc_operands, long long mode) {
        invoke(count, ufunc_operands, mode, std::make_index_sequence<operands>{});
    }

    // Input K of element `index`: a scalar input is one value for the whole run.
    template <std::size_t K>
    static ElementOf<operand<K>> input(void* const* ufunc_operands, npy_intp index) {
        const auto* values = static_cast<const ElementOf<operand<K>>*>(ufunc_operands[K]);
        return values[Rules::kinds[K] == OperandKind::scalar ? 0 : index];
    }

    template <std::size_t... K>
    static int conditions_of(void* const* ufunc_operands, npy_intp index,
                             std::index_sequence<K...>) {
        clear_sse_flags();
        // Kept, so that the compiler computes it before the flags are read.
        volatile auto result = Rules::Formula::of(input<K>(ufunc_operands, index)...);
        (void)result;
        return sse_flags();
    }
    // The flags NumPy's formula raises for one element; its inputs come first.
    static int evaluate(void* const* ufunc_operands, npy_intp index) {
        constexpr std::size_t inputs = operands - Rules::outputs;
        return conditions_of(ufunc_operands, index, std::make_index_sequence<inputs>{});
    }

    template <std::size_t... K>
    static constexpr Shape shape_of(std::index_sequence<K...>) {
        static_assert(((Rules::kinds[K] == declared_kind<operand<K>>()) && ...),
                      "the declaration agrees with the catalogue's roles");
        Shape shape{};
        shape.operands = operands;
        ((shape.kinds[K] = Rules::kinds[K]), ...);
        ((shape.sizes[K] = sizeof(ElementOf<operand<K>>)), ...);
        ((shape.types[K] = ElementType<ElementOf<operand<K>>>::type_number), ...);
        ((shape.real_sizes[K] = sizeof(typename ElementType<ElementOf<operand<K>>>::Real)), ...);
        if constexpr (!std::is_same_v<typename Rules::Formula, NoFormula>) {
            shape.evaluate = &evaluate;
            shape.kernel_flags_tell =
                Rules::Formula::template kernel_flags_tell<ElementOf<operand<0>>>;
        }
        return shape;
    }
    static constexpr Shape shape = shape_of(std::make_index_sequence<operands>{});

    using Element = ElementOf<operand<0>>;

    // Whether the loop's calls pay for sharing, learnt from its own calls.
    static inline ThreadChoice thread_choice{};

    // NumPy's C code calls it, which no exception can pass: nothing in it throws, and
    // noexcept makes any that did end here.
    static void inner_loop(char** args, const npy_intp* dimensions, const npy_intp* steps,
                           void* data) noexcept {
        const auto& setting = *static_cast<const LoopSetting*>(data);
        if constexpr (reduction::reduces<Element>(Rules::reduction)) {
            // NumPy's reduction: the output is the first input, both of stride 0. NumPy
            // folds complex elements that are not whole elements apart one at a time.
            const bool whole = !reduction::is_complex<Element> ||
                               steps[1] % static_cast<npy_intp>(sizeof(Element)) == 0;
            if (args[0] == args[2] && steps[0] == 0 && steps[2] == 0 && whole) {
                const unsigned flush = flush_choice(setting);
                FlushSetting as_the_runtime(flush == mode_values::FTZDAZ_ON,
                                            flush == mode_values::FTZDAZ_OFF);
                reduction::reduce<Element>(Rules::reduction, args[0], args[1], dimensions[0],
                                           steps[1]);
                return;
            }
        }
        run(shape, &call, args, dimensions[0], steps, setting, thread_choice);
    }
};

// One loop of a ufunc: NumPy's loop function and the operands' types.
struct Loop {
    PyUFuncGenericFunction function;
    const Shape* shape;
};

template <auto Runtime, class Rules>
constexpr Loop loop() {
    return Loop{&LoopOf<Runtime, Rules>::inner_loop, &LoopOf<Runtime, Rules>::shape};
}

struct Operation {
    const char* name;
    const char* alias;  // NumPy's name of the same ufunc where vm has it, or null
    const Loop* loops_begin;
    std::size_t loop_count;
    int identity;
    const char* doc;

    template <std::size_t N>
    constexpr Operation(const char* name, const char* alias, const Loop (&loops)[N],
                        int identity, const char* doc)
        : name(name), alias(alias), loops_begin(loops), loop_count(N), identity(identity),
          doc(doc) {}
};

}  // namespace tessivec::dispatch
