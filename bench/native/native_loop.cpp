// The limit for any binding: the runtime function called from a native loop, timed
// natively. Each entry runs `repeats` calls on the caller's arrays and returns the
// calling thread's CPU seconds they took, the clock the benchmark times Python calls
// by. Built by the benchmark with the system compiler; not part of the package.
#include <time.h>

#include "runtime_functions.h"

namespace {

double thread_seconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <class Call>
double seconds_for(long repeats, Call call) {
    double start = thread_seconds();
    for (long i = 0; i < repeats; ++i) {
        call();
    }
    return thread_seconds() - start;
}

// Keeps the compiler from dropping calls whose result is unused.
volatile unsigned int sink;

}  // namespace

extern "C" {

double native_vdExp(int n, const double* a, double* r, long repeats) {
    return seconds_for(repeats, [&] { vdExp(n, a, r); });
}

double native_vsSin(int n, const float* a, float* r, long repeats) {
    return seconds_for(repeats, [&] { vsSin(n, a, r); });
}

double native_vdAdd(int n, const double* a, const double* b, double* r, long repeats) {
    return seconds_for(repeats, [&] { vdAdd(n, a, b, r); });
}

double native_vzMul(int n, const Complex16* a, const Complex16* b, Complex16* r,
                    long repeats) {
    return seconds_for(repeats, [&] { vzMul(n, a, b, r); });
}

double native_vdErfInv(int n, const double* a, double* r, long repeats) {
    return seconds_for(repeats, [&] { vdErfInv(n, a, r); });
}

double native_vmdLinearFrac(int n, const double* a, const double* b, double* r,
                            long long mode, long repeats) {
    return seconds_for(repeats, [&] { vmdLinearFrac(n, a, b, 2.0, 1.0, 3.0, 1.0, r, mode); });
}

double native_vdadd(int n, const double* a, const double* b, double* r, long repeats) {
    return seconds_for(repeats, [&] { vdadd_(&n, a, b, r); });
}

double native_vmlSetErrStatus(int status, long repeats) {
    return seconds_for(repeats, [&] { sink = vmlSetErrStatus(status); });
}

double native_vmlGetMode(long repeats) {
    return seconds_for(repeats, [&] { sink = vmlGetMode(); });
}

}  // extern "C"
