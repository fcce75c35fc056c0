// What both extensions know of the parts parameters play, generated from the catalogue's
// roles and families (common/role_traits.py): each role with what it is (an array,
// written by the runtime, integers in every precision), lib's families, and the rule by
// which a family's runtime functions reach into their arrays.
#pragma once

namespace tessivec::common {

#include "common/role_traits.inc"

// One integer the runtime reads through a pointer in the by-reference spellings: a
// count, an increment, a mode, a status.
inline constexpr bool is_single_value(Role role) {
    return !traits_of(role).array && traits_of(role).integer;
}

// An int array of one entry per element: an index array or a mask.
inline constexpr bool is_selector(Role role) {
    return traits_of(role).array && traits_of(role).integer;
}

}  // namespace tessivec::common
