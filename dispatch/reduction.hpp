// NumPy's own rules for reducing an axis with add and multiply, which its ufuncs apply
// when the inner loop is handed a reduction (the output is the first input, both of
// stride 0): add sums pairwise, its rounding error growing as log n rather than n, and
// multiply folds from the left. vm applies the same rules term for term, so that
// vm.add.reduce gives np.add.reduce's bits; the runtime's add and multiply are the
// processor's IEEE operations, which these are too. Conditions raise the processor's
// flags as they arise.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "dispatch/numpy_api.hpp"
#include "runtime/runtime_records.hpp"

namespace tessivec::dispatch {

enum class Reduction : unsigned char { none, pairwise_sum, product };

namespace reduction {

// NumPy's block below which a sum is taken with eight accumulators.
inline constexpr npy_intp pairwise_block = 128;

template <class Real>
Real load(const char* place) {
    Real value;
    std::memcpy(&value, place, sizeof value);
    return value;
}

// The sum of `n` reals `stride` bytes apart, as NumPy's pairwise summation adds them.
template <class Real>
Real pairwise_sum(const char* a, npy_intp n, npy_intp stride) {
    if (n < 8) {
        Real sum = -0.0;  // so that a sum of negative zeros is one
        for (npy_intp i = 0; i < n; ++i) {
            sum += load<Real>(a + i * stride);
        }
        return sum;
    }
    if (n <= pairwise_block) {
        Real r[8];
        for (int k = 0; k < 8; ++k) {
            r[k] = load<Real>(a + k * stride);
        }
        npy_intp i = 8;
        for (; i < n - (n % 8); i += 8) {
            for (int k = 0; k < 8; ++k) {
                r[k] += load<Real>(a + (i + k) * stride);
            }
        }
        Real sum = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
        for (; i < n; ++i) {
            sum += load<Real>(a + i * stride);
        }
        return sum;
    }
    npy_intp half = n / 2;
    half -= half % 8;
    return pairwise_sum<Real>(a, half, stride) +
           pairwise_sum<Real>(a + half * stride, n - half, stride);
}

// The same for complex values, as NumPy sums them: `n` counts reals, real and imaginary
// parts interleaved, and `stride` is half a complex element's.
template <class Real>
void pairwise_sum_complex(Real& real, Real& imag, const char* a, npy_intp n, npy_intp stride) {
    if (n < 8) {
        real = -0.0;
        imag = -0.0;
        for (npy_intp i = 0; i < n; i += 2) {
            real += load<Real>(a + i * stride);
            imag += load<Real>(a + i * stride + sizeof(Real));
        }
        return;
    }
    if (n <= pairwise_block) {
        Real r[8];
        for (int k = 0; k < 8; k += 2) {
            r[k] = load<Real>(a + k * stride);
            r[k + 1] = load<Real>(a + k * stride + sizeof(Real));
        }
        npy_intp i = 8;
        for (; i < n - (n % 8); i += 8) {
            for (int k = 0; k < 8; k += 2) {
                r[k] += load<Real>(a + (i + k) * stride);
                r[k + 1] += load<Real>(a + (i + k) * stride + sizeof(Real));
            }
        }
        real = (r[0] + r[2]) + (r[4] + r[6]);
        imag = (r[1] + r[3]) + (r[5] + r[7]);
        for (; i < n; i += 2) {
            real += load<Real>(a + i * stride);
            imag += load<Real>(a + i * stride + sizeof(Real));
        }
        return;
    }
    Real real1, imag1, real2, imag2;
    npy_intp half = n / 2;
    half -= half % 8;
    pairwise_sum_complex<Real>(real1, imag1, a, half, stride);
    pairwise_sum_complex<Real>(real2, imag2, a + half * stride, n - half, stride);
    real = real1 + real2;
    imag = imag1 + imag2;
}

template <class T>
inline constexpr bool is_complex = std::is_same_v<T, runtime::MKL_Complex8> ||
                                   std::is_same_v<T, runtime::MKL_Complex16>;

// Whether `rule` reduces elements of type T itself: NumPy's complex product is a
// formula of its own, which the runtime's may not match bit for bit, so a complex
// product folds through the runtime.
template <class T>
constexpr bool reduces(Reduction rule) {
    return rule == Reduction::pairwise_sum || (rule == Reduction::product && !is_complex<T>);
}

// Folds `count` elements `stride` bytes apart into the accumulator `into`.
template <class T>
void reduce(Reduction rule, char* into, const char* from, npy_intp count, npy_intp stride) {
    if constexpr (is_complex<T>) {
        using Real = decltype(T{}.real);
        T accumulator = load<T>(into);
        Real real, imag;
        pairwise_sum_complex<Real>(real, imag, from, count * 2, stride / 2);
        accumulator.real += real;
        accumulator.imag += imag;
        std::memcpy(into, &accumulator, sizeof accumulator);
    } else {
        T accumulator = load<T>(into);
        if (rule == Reduction::pairwise_sum) {
            accumulator += pairwise_sum<T>(from, count, stride);
        } else {
            for (npy_intp i = 0; i < count; ++i) {
                accumulator *= load<T>(from + i * stride);
            }
        }
        std::memcpy(into, &accumulator, sizeof accumulator);
    }
}

}  // namespace reduction

}  // namespace tessivec::dispatch
