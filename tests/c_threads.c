/* What only C can do to the module, for test_callback_lifetimes.py: run Python
   callables (ctypes callbacks) on a thread that C created, one after another, each
   through a thread state of its own that ends when it returns; and meet a runtime
   error on the main thread after the interpreter has been finalized. */
#include <pthread.h>
#include <stdlib.h>

typedef void (*step)(void);
typedef void (*ln_function)(int n, const double *a, double *r);

struct plan {
    step *steps;
    int count;
};

static void *run_steps(void *argument) {
    struct plan *plan = argument;
    for (int i = 0; i < plan->count; i++) plan->steps[i]();
    return NULL;
}

/* Runs the steps in order on a new thread and waits until that thread has ended. */
int run_on_c_thread(step *steps, int count) {
    pthread_t thread;
    struct plan plan = {steps, count};
    if (pthread_create(&thread, NULL, run_steps, &plan) != 0) return -1;
    return pthread_join(thread, NULL);
}

static ln_function ln_at_exit;

static void domain_error(void) {
    double a = -1.0, r = 0.0;
    ln_at_exit(1, &a, &r);
}

/* At the process's exit, after the interpreter's finalization: ln(-1) on this thread. */
int domain_error_at_exit(ln_function ln) {
    ln_at_exit = ln;
    return atexit(domain_error);
}
