// What the results of a run are: whether they are all normal numbers (a NaN, an
// infinity, a subnormal or a zero is what every condition leaves), or all finite.
#pragma once

#include <cmath>

#include "dispatch/numpy_api.hpp"
#include "dispatch/run_shape.hpp"

namespace tessivec::dispatch {

// Whether `count` reals are all normal numbers (or all finite ones).
template <class Real>
bool all_values(const void* data, npy_intp count, bool normal) {
    const auto* values = static_cast<const Real*>(data);
    bool all = true;
    if (normal) {
        for (npy_intp i = 0; i < count; ++i) {
            all &= std::isnormal(values[i]);
        }
    } else {
        for (npy_intp i = 0; i < count; ++i) {
            all &= std::isfinite(values[i]);
        }
    }
    return all;
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
