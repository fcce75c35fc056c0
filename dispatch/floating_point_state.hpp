// The processor's floating-point state vm reads and sets: the status flags NumPy reads a
// ufunc's conditions from (invalid, divide, overflow and underflow), and whether
// subnormal results and inputs are flushed to zero.
#pragma once

#include <cfenv>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#endif

namespace tessivec::dispatch {

inline constexpr int condition_flags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;

// Which condition flags are raised, in the x87 unit as well: NumPy reads both, and some
// of the runtime's kernels leave flags there.
inline int raised_flags() { return std::fetestexcept(condition_flags); }

// Which condition flags the SSE unit has raised: all the runtime's vector code and all
// arithmetic of our own raise theirs there, and reading MXCSR alone takes half the time
// fetestexcept takes. MXCSR's flag bits are the positions <cfenv> gives them on x86-64.
inline int sse_flags() {
#if defined(__x86_64__) || defined(_M_X64)
    static_assert(FE_INVALID == 0x01 && FE_DIVBYZERO == 0x04 && FE_OVERFLOW == 0x08 &&
                  FE_UNDERFLOW == 0x10);
    return static_cast<int>(_mm_getcsr()) & condition_flags;
#else
    return std::fetestexcept(condition_flags);
#endif
}

inline void clear_sse_flags() {
#if defined(__x86_64__) || defined(_M_X64)
    _mm_setcsr(_mm_getcsr() & ~static_cast<unsigned>(condition_flags));
#else
    std::feclearexcept(condition_flags);
#endif
}

inline constexpr unsigned flush_to_zero = 0x8000, denormals_are_zero = 0x0040;

// Whether the calling thread's processor state flushes subnormal results (FTZ) or
// inputs (DAZ) to zero.
inline bool flushes_subnormals() {
#if defined(__x86_64__) || defined(_M_X64)
    return (_mm_getcsr() & (flush_to_zero | denormals_are_zero)) != 0;
#else
    return false;
#endif
}

// While it lives, the calling thread's own arithmetic flushes subnormals as the
// runtime's FTZDAZ_ON or FTZDAZ_OFF would have it (neither: as it finds the thread),
// so that what vm computes itself agrees with what the runtime computes in that mode.
class FlushSetting {
public:
    FlushSetting(bool on, bool off) {
#if defined(__x86_64__) || defined(_M_X64)
        if (on || off) {
            saved_ = _mm_getcsr();
            const unsigned bits = flush_to_zero | denormals_are_zero;
            _mm_setcsr(on ? saved_ | bits : saved_ & ~bits);
            set_ = true;
        }
#else
        (void)on;
        (void)off;
#endif
    }
    ~FlushSetting() {
#if defined(__x86_64__) || defined(_M_X64)
        if (set_) {
            // The flags raised meanwhile stay; only the flushing bits go back.
            const unsigned bits = flush_to_zero | denormals_are_zero;
            _mm_setcsr((_mm_getcsr() & ~bits) | (saved_ & bits));
        }
#endif
    }
    FlushSetting(const FlushSetting&) = delete;
    FlushSetting& operator=(const FlushSetting&) = delete;

private:
    unsigned saved_ = 0;
    bool set_ = false;
};

}  // namespace tessivec::dispatch
