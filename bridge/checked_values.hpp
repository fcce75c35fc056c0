// The runtime reads counts, increments, modes, index arrays and masks through their
// pointers again after the wrapper has checked them, without the interpreter lock:
// another thread could change them in between and widen the runtime's reach past what
// was checked. So the wrapper copies each into scratch memory of the call before the
// checks read it, and the runtime is given the copies: it reads the very values that
// were checked. Each copy has room to spare after it for the runtime's wide loads (it
// reads a by-reference int with an 8-byte load, arrays with vector loads).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bridge/array_capacity.hpp"
#include "bridge/call_shape.hpp"
#include "bridge/length_check.hpp"

namespace tessivec::bridge {

inline constexpr std::size_t wide_load_room = 64;

// Replaces `pointer` by a copy of its first `count` elements, in scratch memory.
template <class Element, class Scratch>
bool copy_into_scratch(Element*& pointer, std::size_t count, Scratch& scratch) {
    using Stored = std::remove_const_t<Element>;
    std::byte* area = scratch.take(count * sizeof(Stored) + wide_load_room);
    if (area == nullptr) {
        return false;
    }
    std::memcpy(area, pointer, count * sizeof(Stored));
    pointer = reinterpret_cast<Element*>(area);
    return true;
}

// A by-reference integer that the wrapper may read: not null, and not known to be empty.
template <Role R, class T, class Scratch>
bool copy_single_value(T& value, Py_ssize_t capacity, Scratch& scratch) {
    if constexpr (is_single_value(R) && std::is_pointer_v<T>) {
        if (value != nullptr && capacity != 0) {
            return copy_into_scratch(value, 1, scratch);
        }
    }
    return true;
}

// An index array or mask known to hold the count's number of entries; one that holds
// fewer is refused by the length check, one of unknown length is passed as C would.
template <Role R, class T, class Scratch>
bool copy_selector(T& value, Py_ssize_t capacity, std::optional<long long> count,
                   Scratch& scratch) {
    if constexpr (is_selector(R)) {
        if (value != nullptr && holds_every_entry(capacity, count) && *count > 0) {
            return copy_into_scratch(value, static_cast<std::size_t>(*count), scratch);
        }
    }
    return true;
}

template <Role... Roles, class Values, class Scratch, std::size_t... I>
bool copy_checked_values(Values& values, const Py_ssize_t* capacity, Scratch& scratch,
                         std::index_sequence<I...>) {
    if (!(copy_single_value<Roles>(std::get<I>(values), capacity[I], scratch) && ...)) {
        return false;
    }
    std::optional<long long> count;
    ((Roles == Role::count ? (void)(count = integer_argument(std::get<I>(values), capacity[I]))
                           : void()),
     ...);
    return (copy_selector<Roles>(std::get<I>(values), capacity[I], count, scratch) && ...);
}

}  // namespace tessivec::bridge
