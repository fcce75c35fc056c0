// The processor's floating-point state vm reads: the status flags NumPy reads a ufunc's
// conditions from (invalid, divide, overflow and underflow), and whether subnormal
// results and inputs are flushed to zero.
#pragma once

#include <cfenv>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#endif

namespace tessivec::dispatch {

inline constexpr int condition_flags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;

// Which of the condition flags are raised. The runtime computes with SSE and AVX only,
// whose flags are MXCSR's, and reading them alone takes half the time fetestexcept takes
// (5 ns against 10 here, twice in every inner-loop call), which reads the x87 status
// word as well. MXCSR's flag bits are the positions <cfenv> gives them on x86-64.
inline int raised_condition_flags() {
#if defined(__x86_64__) || defined(_M_X64)
    static_assert(FE_INVALID == 0x01 && FE_DIVBYZERO == 0x04 && FE_OVERFLOW == 0x08 &&
                  FE_UNDERFLOW == 0x10);
    return static_cast<int>(_mm_getcsr()) & condition_flags;
#else
    return std::fetestexcept(condition_flags);
#endif
}

// Whether the calling thread's processor state flushes subnormal results (FTZ) or
// inputs (DAZ) to zero.
inline bool flushes_subnormals() {
#if defined(__x86_64__) || defined(_M_X64)
    constexpr unsigned flush_to_zero = 0x8000, denormals_are_zero = 0x0040;
    return (_mm_getcsr() & (flush_to_zero | denormals_are_zero)) != 0;
#else
    return false;
#endif
}

}  // namespace tessivec::dispatch
