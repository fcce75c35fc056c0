// The accuracy field of a mode (its lowest four bits) does more than pick an accuracy:
// the runtime uses it to find the kernel it runs, and a value it does not define selects
// a neighbouring function's kernel or none at all. Only 0 and the three accuracies LA
// (1), HA (2) and EP (3) are defined; any other is refused before the runtime runs. The
// other fields (denormal handling, error mode, traps) are the runtime's to judge.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bridge/call_shape.hpp"
#include "runtime/mode_values.hpp"

namespace tessivec::bridge {

inline constexpr unsigned long long accuracy_field_mask = runtime::mode_values::ACCURACY_MASK;
inline constexpr unsigned long long largest_defined_accuracy = runtime::mode_values::EP;

// Sets ValueError for a mode whose accuracy field the runtime does not define.
void refuse_mode(const char* function, unsigned long long mode);

template <class T>
bool defined_accuracy(const char* function, const T& value) {
    unsigned long long mode;
    if constexpr (std::is_pointer_v<T>) {
        if (value == nullptr) {
            return true;  // passed as C would pass it
        }
        mode = static_cast<unsigned long long>(*value);
    } else {
        mode = static_cast<unsigned long long>(value);
    }
    if ((mode & accuracy_field_mask) <= largest_defined_accuracy) {
        return true;
    }
    refuse_mode(function, mode);
    return false;
}

template <Role R, class T>
bool mode_argument_fits(const char* function, const T& value) {
    if constexpr (R == Role::mode) {
        return defined_accuracy(function, value);
    } else {
        return true;
    }
}

template <Role... Roles, class Values, std::size_t... I>
bool check_modes(const char* function, const Values& values, std::index_sequence<I...>) {
    return (mode_argument_fits<Roles>(function, std::get<I>(values)) && ...);
}

}  // namespace tessivec::bridge
