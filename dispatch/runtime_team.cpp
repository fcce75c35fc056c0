#include "dispatch/runtime_team.hpp"

#include "dispatch/runtime_library.hpp"

#include <cstdlib>
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

Parallel parallel_entry() {
    static const Parallel parallel = find_parallel();
    return parallel;
}

constexpr int team_wait_ms = 5;

using SetBlocktime = void (*)(int);

// The Intel OpenMP runtime's setting, where the environment leaves it open; the GNU one
// (libgomp) spins for a short count of its own and then sleeps.
SetBlocktime find_set_blocktime() {
    if (std::getenv("KMP_BLOCKTIME") != nullptr || std::getenv("OMP_WAIT_POLICY") != nullptr) {
        return nullptr;
    }
    return reinterpret_cast<SetBlocktime>(loaded_symbol("libiomp5.so", "kmp_set_blocktime"));
}

// The setting is each calling thread's, for the team it starts.
void set_team_wait() {
    static const SetBlocktime set_blocktime = find_set_blocktime();
    thread_local bool set = false;
    if (!set && set_blocktime != nullptr) {
        set_blocktime(team_wait_ms);
    }
    set = true;
}

}  // namespace

bool runtime_team_available() { return parallel_entry() != nullptr; }

bool run_on_runtime_team(TeamWork work, void* data, int threads) {
    const Parallel parallel = parallel_entry();
    if (parallel == nullptr || threads < 1) {
        return false;
    }
    set_team_wait();
    parallel(work, data, static_cast<unsigned>(threads), 0);
    return true;
}

}  // namespace tessivec::dispatch
