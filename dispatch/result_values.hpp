// What the results of a run are: whether they are all normal numbers (a NaN, an
// infinity, a subnormal or a zero is what every condition leaves), or all finite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dispatch/numpy_api.hpp"
#include "dispatch/run_shape.hpp"

namespace tessivec::dispatch {

// Whether `count` reals are all normal numbers (or all finite ones), read off the
// exponent field in each real's high 32 bits: none of its bits set is a zero or a
// subnormal, all of them an infinity or a NaN. Compared as 32-bit words, which SSE2's
// vector compares take, the loop becomes vector code; std::isnormal's does not, and
// took a nanosecond an element of a short call.
template <class Real>
bool all_values(const void* data, npy_intp count, bool normal) {
    static_assert(sizeof(Real) == 4 || sizeof(Real) == 8);
    constexpr std::uint32_t exponent = sizeof(Real) == 4 ? 0x7f800000u : 0x7ff00000u;
    constexpr std::size_t words = sizeof(Real) / 4;
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t some_zero = 0, some_full = 0;
    for (npy_intp i = 0; i < count; ++i) {
        std::uint32_t high;  // little-endian: the last word of the real
        std::memcpy(&high, bytes + (i * words + words - 1) * 4, sizeof high);
        some_zero |= (high & exponent) == 0;
        some_full |= (high & exponent) == exponent;
    }
    return some_full == 0 && (!normal || some_zero == 0);
}

// Whether every output of a run holds normal numbers only (or finite ones only).
inline bool all_outputs(const Shape& shape, void* const* operands, npy_intp count, bool normal) {
    for (std::size_t k = 0; k < shape.operands; ++k) {
        if (shape.kinds[k] != OperandKind::output) {
            continue;
        }
        const auto parts = static_cast<npy_intp>(shape.sizes[k] / shape.real_sizes[k]);
        const npy_intp reals = count * parts;
        const bool all = shape.real_sizes[k] == sizeof(float)
                             ? all_values<float>(operands[k], reals, normal)
                             : all_values<double>(operands[k], reals, normal);
        if (!all) {
            return false;
        }
    }
    return true;
}

// Whether every output of element `index` is a normal number.
inline bool normal_element(const Shape& shape, void* const* operands, npy_intp index) {
    for (std::size_t k = 0; k < shape.operands; ++k) {
        if (shape.kinds[k] != OperandKind::output) {
            continue;
        }
        const auto parts = static_cast<npy_intp>(shape.sizes[k] / shape.real_sizes[k]);
        const bool normal =
            shape.real_sizes[k] == sizeof(float)
                ? all_values<float>(static_cast<const float*>(operands[k]) + index * parts,
                                    parts, true)
                : all_values<double>(static_cast<const double*>(operands[k]) + index * parts,
                                     parts, true);
        if (!normal) {
            return false;
        }
    }
    return true;
}

}  // namespace tessivec::dispatch
