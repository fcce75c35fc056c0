// What the wrapper knows of each parameter beyond its C type: the part it plays in the
// call (its role, and what a role is: an array, written by the runtime, integers), and
// the family whose rules say how many elements each array must hold. Generated from the
// catalogue's roles and families (bridge/role_traits.py).
#pragma once

namespace tessivec::bridge {

#include "bridge/role_traits.inc"

// One integer the runtime reads through a pointer in the by-reference spellings: a
// count, an increment, a mode, a status.
inline constexpr bool is_single_value(Role role) {
    return !traits_of(role).array && traits_of(role).integer;
}

// An int array of one entry per element: an index array or a mask.
inline constexpr bool is_selector(Role role) {
    return traits_of(role).array && traits_of(role).integer;
}

}  // namespace tessivec::bridge
