// NumPy's formulas of the operations whose conditions the runtime does not check (the
// catalogue's EVALUATED ones, by base name). vm evaluates an operation's formula for an
// element whose result is not a normal number and reports the flags it raises: the
// conditions NumPy's same-named ufunc reports for it. The result stays the runtime's.
#pragma once

#include <cmath>
#include <functional>
#include <limits>
#include <type_traits>

#include "runtime/runtime_records.hpp"

namespace tessivec::dispatch::formula {

template <class T>
inline constexpr bool is_complex_v = std::is_same_v<T, runtime::MKL_Complex8> ||
                                     std::is_same_v<T, runtime::MKL_Complex16>;

template <class T>
T conj(T a) {
    return T{a.real, -a.imag};
}

template <class T>
bool has_nan(T a) {
    return std::isnan(a.real) || std::isnan(a.imag);
}

// A complex product or quotient with a NaN part among its operands is a NaN, which
// raises nothing, as for real operands (NumPy's fused multiply-adds raise nothing there).
template <class T>
T quiet_nan() {
    using Real = decltype(T{}.real);
    return T{std::numeric_limits<Real>::quiet_NaN(), std::numeric_limits<Real>::quiet_NaN()};
}

template <class T>
T complex_mul(T a, T b) {
    if (has_nan(a) || has_nan(b)) {
        return quiet_nan<T>();
    }
    return T{a.real * b.real - a.imag * b.imag, a.real * b.imag + a.imag * b.real};
}

// NumPy's complex division: Smith's algorithm, with a zero divisor giving a complex
// infinity or NaN.
template <class T>
T complex_div(T a, T b) {
    using Real = decltype(a.real);
    if (has_nan(a) || has_nan(b)) {
        return quiet_nan<T>();
    }
    const Real b_real = std::fabs(b.real), b_imag = std::fabs(b.imag);
    if (b_real >= b_imag) {
        if (b_real == 0 && b_imag == 0) {
            return T{a.real / b_real, a.imag / b_real};
        }
        const Real ratio = b.imag / b.real;
        const Real scale = Real(1) / (b.real + b.imag * ratio);
        return T{(a.real + a.imag * ratio) * scale, (a.imag - a.real * ratio) * scale};
    }
    const Real ratio = b.real / b.imag;
    const Real scale = Real(1) / (b.imag + b.real * ratio);
    return T{(a.real * ratio + a.imag) * scale, (a.imag * ratio - a.real) * scale};
}

// Each formula: `of` computes the result as NumPy does; `kernel_flags_tell<T>` says
// whether the runtime's kernels for elements of type T raise the processor's flags for
// every condition they meet (its real add, subtract, multiply, divide, square and
// reciprocal are the processor's own IEEE operations), so that a run which raised none
// need not be looked at. Elsewhere every run's results are: the kernels of complex
// arithmetic, linearfrac and hypot return infinities and NaNs without raising a flag.

// The four operations of arithmetic on real values, and on complex ones as NumPy
// computes them: sums part by part, products and quotients by their formulas.
template <class Operation>
struct PartByPart {
    template <class T>
    T operator()(T a, T b) const {
        return T{Operation{}(a.real, b.real), Operation{}(a.imag, b.imag)};
    }
};

struct ComplexProduct {
    template <class T>
    T operator()(T a, T b) const {
        return complex_mul(a, b);
    }
};

struct ComplexQuotient {
    template <class T>
    T operator()(T a, T b) const {
        return complex_div(a, b);
    }
};

template <class RealOperation, class ComplexOperation>
struct Arithmetic {
    template <class T>
    static T of(T a, T b) {
        if constexpr (is_complex_v<T>) {
            return ComplexOperation{}(a, b);
        } else {
            return RealOperation{}(a, b);
        }
    }
    template <class T>
    static constexpr bool kernel_flags_tell = !is_complex_v<T>;
};

using Add = Arithmetic<std::plus<>, PartByPart<std::plus<>>>;
using Sub = Arithmetic<std::minus<>, PartByPart<std::minus<>>>;
using Mul = Arithmetic<std::multiplies<>, ComplexProduct>;
using Div = Arithmetic<std::divides<>, ComplexQuotient>;

struct MulByConj {  // np.multiply(a, np.conjugate(b))
    template <class T>
    static T of(T a, T b) {
        return complex_mul(a, conj(b));
    }
    template <class T>
    static constexpr bool kernel_flags_tell = false;
};

struct Conj {
    template <class T>
    static T of(T a) {
        return conj(a);
    }
    template <class T>
    static constexpr bool kernel_flags_tell = false;
};

struct Sqr {  // np.square
    template <class T>
    static T of(T a) {
        return a * a;
    }
    template <class T>
    static constexpr bool kernel_flags_tell = true;
};

struct Inv {  // np.reciprocal
    template <class T>
    static T of(T a) {
        return T(1) / a;
    }
    template <class T>
    static constexpr bool kernel_flags_tell = true;
};

struct Hypot {  // np.hypot: the C library's
    template <class T>
    static T of(T a, T b) {
        return std::hypot(a, b);
    }
    template <class T>
    static constexpr bool kernel_flags_tell = false;
};

// The C library's functions of two reals, which NumPy's fmod, copysign, nextafter, fmax
// and fmin call as they are: their flags are NumPy's. The runtime's own reports of them
// miss some (fmod of an infinity by the largest finite number gives a NaN it does not
// report), so vm takes none of them; it looks at every run, the kernels raising nothing.
struct EveryRunLookedAt {
    template <class T>
    static constexpr bool kernel_flags_tell = false;
};

struct Fmod : EveryRunLookedAt {
    template <class T>
    static T of(T a, T b) {
        return std::fmod(a, b);
    }
};

struct Remainder : EveryRunLookedAt {  // C's remainder: IEEE 754's, not np.remainder
    template <class T>
    static T of(T a, T b) {
        return std::remainder(a, b);
    }
};

struct CopySign : EveryRunLookedAt {
    template <class T>
    static T of(T a, T b) {
        return std::copysign(a, b);
    }
};

struct NextAfter : EveryRunLookedAt {
    template <class T>
    static T of(T a, T b) {
        return std::nextafter(a, b);
    }
};

struct Fmax : EveryRunLookedAt {
    template <class T>
    static T of(T a, T b) {
        return std::fmax(a, b);
    }
};

struct Fmin : EveryRunLookedAt {
    template <class T>
    static T of(T a, T b) {
        return std::fmin(a, b);
    }
};

struct Fdim : EveryRunLookedAt {
    template <class T>
    static T of(T a, T b) {
        return std::fdim(a, b);
    }
};

// atan2(a, b) / pi, whose flags are IEEE 754's atan2Pi's: none for two zeros, where the
// runtime reports a domain error with results of 0 and ±1 alike (of which vm would see
// only the zeros in short calls, which look again only at results that are not normal).
struct Atan2pi : EveryRunLookedAt {
    template <class T>
    static T of(T a, T b) {
        return std::atan2(a, b) / T(3.14159265358979323846264338327950288);
    }
};

// The linear fraction as its formula reads, step by step.
struct LinearFrac {
    template <class T>
    static T of(T a, T b, T scalea, T shifta, T scaleb, T shiftb) {
        return (scalea * a + shifta) / (scaleb * b + shiftb);
    }
    template <class T>
    static constexpr bool kernel_flags_tell = false;
};

}  // namespace tessivec::dispatch::formula
