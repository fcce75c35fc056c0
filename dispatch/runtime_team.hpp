// The runtime's own threads, lent for work of ours: the OpenMP team of the threading
// layer the runtime has loaded. Threads of our own would start afresh in every call
// (the OpenMP runtime registers each new thread that calls into it) and, on a machine
// with no core to spare, share a core with the team's threads, which keep spinning for a
// while after each of the runtime's threaded calls.
#pragma once

namespace tessivec::dispatch {

using TeamWork = void (*)(void* data);

// Runs `work(data)` on up to `threads` threads of the team, the calling thread among
// them, and returns once every one has returned; false (and nothing run) where the
// runtime has no OpenMP team to lend.
bool run_on_runtime_team(TeamWork work, void* data, int threads);

}  // namespace tessivec::dispatch
