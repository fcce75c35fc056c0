// What the wrapper knows of each parameter beyond its C type: the part it plays in the
// call, and the family whose rules say how many elements each array must hold.
#pragma once

#include "common/roles.hpp"

namespace tessivec::bridge {

using common::Family;
using common::FamilyReach;
using common::is_selector;
using common::is_single_value;
using common::reach_of;
using common::Role;
using common::Rule;
using common::traits_of;

}  // namespace tessivec::bridge
