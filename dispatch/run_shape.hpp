// What the run driver knows of one loop of a vm ufunc: its operands, in the ufunc's
// order, how the runtime function is called, how the loop's conditions are found, and
// the accuracy it computes in.
#pragma once

#include <cstddef>

#include "dispatch/numpy_api.hpp"

namespace tessivec::dispatch {

inline constexpr std::size_t max_operands = 7;  // linearfrac: 2 arrays, 4 scalars, 1 output

enum class OperandKind : unsigned char { array, scalar, output };

// The flags NumPy's formula of an operation raises for element `index` of a run whose
// operands (in the ufunc's order) are contiguous.
using ElementConditions = int (*)(void* const* operands, npy_intp index);

struct Shape {
    std::size_t operands;
    OperandKind kinds[max_operands];
    std::size_t sizes[max_operands];  // bytes per element
    std::size_t real_sizes[max_operands];  // bytes per real part: a complex element has two
    char types[max_operands];  // NumPy type numbers
    // For an operation whose conditions the runtime does not check: its formula's
    // conditions, and whether the runtime's kernels raise the processor's flags for every
    // condition they meet. Null for the others, whose conditions the runtime reports.
    ElementConditions evaluate;
    bool kernel_flags_tell;
};

// The runtime function of a loop, given its operands in the ufunc's order.
using RuntimeCall = void (*)(int count, void* const* operands, long long mode);

// The accuracy a ufunc computes in: the calling thread's (0), or LA, HA or EP; on
// another thread than the caller's, also the caller's FTZDAZ choice.
struct LoopSetting {
    unsigned accuracy;
};

}  // namespace tessivec::dispatch
