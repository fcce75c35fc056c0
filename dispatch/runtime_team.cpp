#include "dispatch/runtime_team.hpp"

#include <dlfcn.h>

#include <initializer_list>

namespace tessivec::dispatch {

namespace {

// The OpenMP entry points a parallel region compiled by GCC calls, which the runtime's
// Intel (libiomp5) and GNU (libgomp) threading layers both export.
struct OpenMP {
    void (*parallel)(void (*)(void*), void*, unsigned, unsigned) = nullptr;
    int (*thread_num)() = nullptr;
    int (*num_threads)() = nullptr;
};

// Looked up once, on first use: the runtime loads its threading layer at its first
// threaded call or thread query, which every caller has made by then.
OpenMP find_openmp() {
    for (const char* name : {"libiomp5.so", "libgomp.so.1"}) {
        void* library = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
        if (library == nullptr) {
            continue;
        }
        OpenMP openmp;
        openmp.parallel = reinterpret_cast<decltype(openmp.parallel)>(
            dlsym(library, "GOMP_parallel"));
        openmp.thread_num = reinterpret_cast<decltype(openmp.thread_num)>(
            dlsym(library, "omp_get_thread_num"));
        openmp.num_threads = reinterpret_cast<decltype(openmp.num_threads)>(
            dlsym(library, "omp_get_num_threads"));
        dlclose(library);  // loaded by the runtime, which keeps it
        if (openmp.parallel != nullptr && openmp.thread_num != nullptr &&
            openmp.num_threads != nullptr) {
            return openmp;
        }
    }
    return OpenMP{};
}

const OpenMP& openmp() {
    static const OpenMP found = find_openmp();
    return found;
}

}  // namespace

bool run_on_runtime_team(TeamWork work, void* data, int threads) {
    const OpenMP& team = openmp();
    if (team.parallel == nullptr || threads < 1) {
        return false;
    }
    team.parallel(work, data, static_cast<unsigned>(threads), 0);
    return true;
}

int team_member() { return openmp().thread_num(); }

int team_size() { return openmp().num_threads(); }

}  // namespace tessivec::dispatch
