// Refuses, before the runtime runs, a call that would make it read or write past the
// end of an array whose length is known. What each array must hold follows the
// runtime's behaviour, as measured: the elementwise families touch the count's number
// of elements in every array; PackI reads elements 0, incr, ..., (n-1)*incr and
// UnpackI writes them; PackV reads and UnpackV writes up to the largest index; PackM
// writes and UnpackM reads one element per non-zero mask entry. A count of zero or less
// touches no array. A negative increment or index reaches before the array's start.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bridge/argument_conversion.hpp"
#include "bridge/array_capacity.hpp"
#include "bridge/call_shape.hpp"
#include "common/reach.hpp"

namespace tessivec::bridge {

using common::indexed;
using common::masked;
using common::Requirement;
using common::strided;

// The values of a call that decide how far the runtime reaches into its arrays.
struct CallExtent {
    std::optional<long long> count;
    std::optional<long long> increment;
    const int* selector = nullptr;  // the index or mask array, when all n entries are readable
};

template <class T>
std::optional<long long> integer_argument(const T& value, Py_ssize_t capacity) {
    if constexpr (std::is_same_v<T, int>) {
        return value;
    } else if constexpr (std::is_same_v<T, int*>) {
        if (value == nullptr || capacity == 0) {
            return std::nullopt;
        }
        return *value;
    } else {
        return std::nullopt;
    }
}

// Whether an index array or mask of `capacity` entries is known to hold every one of
// the `count` entries the runtime reads: only then may the wrapper read them all.
inline bool holds_every_entry(Py_ssize_t capacity, std::optional<long long> count) {
    return count && capacity != unknown_capacity && capacity >= *count;
}

template <Family F, Role R>
Requirement requirement(const CallExtent& extent) {
    if constexpr (!traits_of(R).array) {
        return Requirement::of(1);
    } else {
        if (!extent.count) {
            return {};
        }
        const long long n = *extent.count;
        constexpr FamilyReach reach = reach_of(F);
        if constexpr (R != reach.reached || reach.rule == Rule::elementwise) {
            return Requirement::of(n);  // an index array and a mask hold n entries too
        } else if constexpr (reach.rule == Rule::strided) {
            return strided(n, extent.increment);
        } else if constexpr (reach.rule == Rule::indexed) {
            return indexed(n, extent.selector);
        } else {
            return masked(n, extent.selector);
        }
    }
}

// Sets ValueError for argument `position`, which cannot satisfy `needed`.
void refuse_short_argument(const char* function, std::size_t position, Py_ssize_t capacity,
                           const Requirement& needed);

template <Family F, Role R>
bool fits(const CallExtent& extent, Py_ssize_t capacity, const char* function,
          std::size_t position) {
    if (capacity == unknown_capacity) {
        return true;
    }
    Requirement needed = requirement<F, R>(extent);
    if (needed.kind == Requirement::unknown ||
        (needed.kind == Requirement::elements && needed.count <= capacity)) {
        return true;
    }
    refuse_short_argument(function, position, capacity, needed);
    return false;
}

template <Role... Roles, class Values, std::size_t... I>
CallExtent call_extent(const Values& values, const Py_ssize_t* capacity,
                       std::index_sequence<I...>) {
    CallExtent extent;
    auto gather = [&](auto role, const auto& value, Py_ssize_t cap) {
        if constexpr (decltype(role)::value == Role::count) {
            extent.count = integer_argument(value, cap);
        } else if constexpr (decltype(role)::value == Role::increment) {
            extent.increment = integer_argument(value, cap);
        }
    };
    (gather(std::integral_constant<Role, Roles>{}, std::get<I>(values), capacity[I]), ...);
    auto select = [&](auto role, const auto& value, Py_ssize_t cap) {
        if constexpr (is_selector(decltype(role)::value)) {
            if (holds_every_entry(cap, extent.count)) {
                extent.selector = value;
            }
        }
    };
    (select(std::integral_constant<Role, Roles>{}, std::get<I>(values), capacity[I]), ...);
    return extent;
}

template <class Values, Family F, Role... Roles, std::size_t... I>
bool check_each(const char* function, const CallExtent& extent, const Py_ssize_t* capacity,
                std::index_sequence<I...>) {
    return ((!is_pointer_argument<std::tuple_element_t<I, Values>> ||
             fits<F, Roles>(extent, capacity[I], function, I)) &&
            ...);
}

template <Family F, Role... Roles, class Values>
bool check_lengths(const char* function, const Values& values, const Py_ssize_t* capacity) {
    constexpr std::size_t arity = sizeof...(Roles);
    static_assert(arity == std::tuple_size_v<Values>, "one role per parameter");
    auto positions = std::make_index_sequence<arity>{};
    CallExtent extent = call_extent<Roles...>(values, capacity, positions);
    return check_each<Values, F, Roles...>(function, extent, capacity, positions);
}

}  // namespace tessivec::bridge
