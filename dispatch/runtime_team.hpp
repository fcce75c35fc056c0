// The runtime's own threads, lent for work of ours: the OpenMP team of the threading
// layer the runtime has loaded. Threads of our own would start afresh in every call
// (the OpenMP runtime registers each new thread that calls into it) and, on a machine
// with no core to spare, share a core with the team's threads, which keep spinning for a
// while after each of the runtime's threaded calls.
//
// How long they spin: the Intel OpenMP runtime's threads wait 200 ms by default, a whole
// core taken from the program's own work after every shared call on a machine of two.
// A thread that shares calls sets 5 ms for its team, unless the environment says
// (KMP_BLOCKTIME, OMP_WAIT_POLICY): measured on 2 cores, calls in a tight loop or 2 ms
// apart take the same time with 5 ms as with 200, and 1.5x to 2.5x with 0 (the team
// sleeps and wakes for every call).
#pragma once

namespace tessivec::dispatch {

using TeamWork = void (*)(void* data);

// Runs `work(data)` on up to `threads` threads of the team, the calling thread among
// them, and returns once every one has returned; false (and nothing run) where the
// runtime has no OpenMP team to lend.
bool run_on_runtime_team(TeamWork work, void* data, int threads);

// Whether the runtime has an OpenMP team to lend.
bool runtime_team_available();

}  // namespace tessivec::dispatch
