// Included before every C++ source of the extensions. glibc 2.34 moved the dl functions
// from libdl into libc under a new symbol version, and glibc 2.35 gave hypot a new one;
// binding to the original versions keeps the extensions loadable on older glibc
// (manylinux_2_28), where libdl has the dl functions. The original hypot is also the
// one NumPy's wheels, built on older glibc still, call for np.hypot.
#pragma once
#include <features.h>
#if defined(__GLIBC__) && defined(__x86_64__) && __GLIBC_PREREQ(2, 34)
__asm__(".symver dladdr, dladdr@GLIBC_2.2.5");
__asm__(".symver dlopen, dlopen@GLIBC_2.2.5");
__asm__(".symver dlsym, dlsym@GLIBC_2.2.5");
__asm__(".symver dlclose, dlclose@GLIBC_2.2.5");
#endif
#if defined(__GLIBC__) && defined(__x86_64__) && __GLIBC_PREREQ(2, 35)
__asm__(".symver hypot, hypot@GLIBC_2.2.5");
__asm__(".symver hypotf, hypotf@GLIBC_2.2.5");
#endif
