// The loops of every vm math operation, generated from the catalogue.
#pragma once

#include <span>
#include <string_view>

#include "dispatch/loop.hpp"

namespace tessivec::dispatch {

struct OperationLoops {
    const char* name;  // the vm function's name: the base name in lower case
    std::span<const Loop> loops;  // in the order s, d, c, z
};

// The loops of the named operation; empty for a name the table does not hold.
std::span<const Loop> loops_of(std::string_view name);

}  // namespace tessivec::dispatch
