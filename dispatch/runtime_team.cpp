#include "dispatch/runtime_team.hpp"

#include "dispatch/runtime_library.hpp"

#include <initializer_list>

namespace tessivec::dispatch {

namespace {

// The OpenMP entry point a parallel region compiled by GCC calls, which the runtime's
// Intel (libiomp5) and GNU (libgomp) threading layers both export.
using Parallel = void (*)(void (*)(void*), void*, unsigned, unsigned);

// Looked up once, on first use: the runtime loads its threading layer at its first
// threaded call or thread query, which every caller has made by then.
Parallel find_parallel() {
    for (const char* name : {"libiomp5.so", "libgomp.so.1"}) {
        if (void* parallel = loaded_symbol(name, "GOMP_parallel"); parallel != nullptr) {
            return reinterpret_cast<Parallel>(parallel);
        }
    }
    return nullptr;
}

}  // namespace

bool run_on_runtime_team(TeamWork work, void* data, int threads) {
    static const Parallel parallel = find_parallel();
    if (parallel == nullptr || threads < 1) {
        return false;
    }
    parallel(work, data, static_cast<unsigned>(threads), 0);
    return true;
}

}  // namespace tessivec::dispatch
