/* The runtime functions the benchmark's native contenders call, for C and C++. */
#ifndef BENCH_RUNTIME_FUNCTIONS_H
#define BENCH_RUNTIME_FUNCTIONS_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    double real, imag;
} Complex16;

void vdExp(int n, const double* a, double* r);
void vmdExp(int n, const double* a, double* r, long long mode);
void vmdAdd(int n, const double* a, const double* b, double* r, long long mode);
void vmsExp(int n, const float* a, float* r, long long mode);
void vmsAdd(int n, const float* a, const float* b, float* r, long long mode);
void vmcExp(int n, const void* a, void* r, long long mode);
void vmcAdd(int n, const void* a, const void* b, void* r, long long mode);
void vmzExp(int n, const void* a, void* r, long long mode);
void vmzAdd(int n, const void* a, const void* b, void* r, long long mode);
void vsSin(int n, const float* a, float* r);
void vdAdd(int n, const double* a, const double* b, double* r);
void vzMul(int n, const Complex16* a, const Complex16* b, Complex16* r);
void vdErfInv(int n, const double* a, double* r);
void vmdLinearFrac(int n, const double* a, const double* b, double scalea, double shifta,
                   double scaleb, double shiftb, double* r, long long mode);
void vdadd_(const int* n, const double* a, const double* b, double* r);
int vmlSetErrStatus(int status);
unsigned int vmlGetMode(void);

#ifdef __cplusplus
}
#endif

#endif
