// What one thread sets around the runtime calls it makes for an inner-loop call and puts
// back afterwards (the m forms' mode, the thread's error status and error callback, the
// runtime's thread count), and how it finds the conditions the runs meet, which it
// writes into the call's record.
//
// How a session watches (Watch):
// - status: a run goes with the error mode IGNORE; its status tells, at no cost when it
//   met none, whether it met a condition. The status keeps the last condition only, so
//   a run that met one is computed again collecting: with the error callback, which
//   sees every condition, as the error mode of this and all later runs of the call.
// - quiet: the runtime's condition handling is slow on underflowing elements (on float32
//   exp with 40 % underflowing results IGNORE takes 2.5x the time of NOERR). Once a call
//   has met underflow nothing more is to be learnt about it: later runs go with NOERR,
//   and only a run that leaves a NaN or an infinity (what every other condition leaves)
//   is computed again collecting. A thread whose last call met underflow expects it
//   again: the driver then computes a short first run to find out soon.
// - screened: a short call, where the status and its upkeep would cost as much as the
//   computing, goes with NOERR, the status untouched, and every result looked at.
//   Every condition leaves a result that is not a normal number (a NaN, an infinity, a
//   subnormal or a zero), so a run whose results are all normal met none; any other run
//   is computed again collecting.
// - collecting: the error callback records every condition as it arises, on whichever
//   thread computes: so from the start where an output is an input, which a run
//   computed again would read overwritten.
// - flags, results: for an operation whose conditions the runtime does not check (its
//   plain arithmetic), the runs go with NOERR, and NumPy's formula of the operation is
//   evaluated for each result that is not a normal number. Where the runtime's kernels
//   raise the processor's flags for every condition and compute on this thread alone, a
//   run that raised none is not looked at (flags); elsewhere every run is (results). A
//   run computed in place, whose inputs are gone, takes the flags its kernel raised as
//   its conditions (the driver copies the inputs where the results must be looked at).
#pragma once

#include <optional>

#include "dispatch/condition_record.hpp"
#include "dispatch/numpy_api.hpp"
#include "dispatch/run_shape.hpp"

namespace tessivec::dispatch {

enum class RuntimeThreads : unsigned char { as_the_runtime_chooses, this_thread_only };

class RuntimeSession {
public:
    // `in_place`: an output is an array input, so that a run cannot be computed or
    // looked at again. `threads`: whether the runtime may split the runs among its
    // threads, or must compute on this thread only (a team member's part).
    RuntimeSession(const Shape& shape, const LoopSetting& setting, npy_intp count,
                   ConditionRecord& record, bool in_place, RuntimeThreads threads);
    ~RuntimeSession();
    RuntimeSession(const RuntimeSession&) = delete;
    RuntimeSession& operator=(const RuntimeSession&) = delete;

    long long mode() const { return mode_; }
    // The most elements one runtime call of this session may be given.
    npy_intp longest_run() const { return longest_run_; }
    // Whether this thread's last inner-loop call met underflow, and this one does not
    // collect from the start.
    bool expects_underflow() const { return expects_underflow_; }

    // After each runtime call of `count` elements of `operands` (contiguous, in the
    // ufunc's order): whether the run must be computed again collecting. Conditions the
    // run is found to have met go into the record.
    bool after_run(void* const* operands, npy_intp count);
    // Makes this and every later run go with the callback; after the run is computed
    // again, `after_run` is called for it once more.
    void start_collecting();

private:
    enum class Watch : unsigned char { status, quiet, screened, collecting, flags, results };

    void keep_prior_status();
    int take_status();
    void evaluate(void* const* operands, npy_intp count);

    const Shape& shape_;
    ConditionRecord& record_;
    unsigned accuracy_;  // and FTZDAZ, as the m forms' mode takes them
    Watch watch_;
    long long mode_;
    npy_intp longest_run_;
    bool in_place_;
    bool expects_underflow_ = false;
    bool status_kept_ = false;
    int prior_status_ = 0;
    std::optional<CollectingCallback> collector_;
    unsigned thread_mode_ = 0;  // while collecting: the mode to return to
    runtime::VMLErrorCallBack callback_ = nullptr;  // while collecting: the one to restore
    int threads_ = 0;
    bool threads_set_ = false;
};

// From this many elements on, the runtime may start threads of its own; below
// one_thread_below the call runs on the calling thread alone, where the runtime's threads
// cost more to start than they save.
inline constexpr npy_intp threads_possible_from = 64;
inline constexpr npy_intp one_thread_below = npy_intp{1} << 15;

// Calls of fewer elements go screened.
inline constexpr npy_intp screened_below = 32;

// The first run of a call on a thread that expects underflow, from this many elements
// on: short, so that the slow condition handling costs little before the call goes quiet.
inline constexpr npy_intp underflow_probe = 2048;
inline constexpr npy_intp probe_from = 4 * underflow_probe;

// The runtime's TBB layer splits a call among TBB's threads whatever the runtime's thread
// settings, from a few hundred elements on (300 for vdPow, 400 for vdLn, 512 for vdSqrt
// on 2026.2); runs of this many stay on the calling thread.
inline constexpr npy_intp tbb_alone_run = 256;

// Whether the runtime offers per-thread thread counts (a stand-in runtime may not).
bool has_local_thread_count();

// Whether the runtime's threading layer splits calls as it likes (TBB), so that a call
// computed on this thread alone must be cut into runs of at most tbb_alone_run.
bool runtime_splits_at_will();

// How many threads the runtime may use for its vector functions on the calling thread,
// as its thread settings (and threadpoolctl's limits) say; 1 where it cannot tell.
int runtime_threads();

// The FTZ/DAZ choice a loop's runtime calls on the calling thread make: FTZDAZ_ON,
// FTZDAZ_OFF, or FTZDAZ_CURRENT where the mode leaves it to the processor.
unsigned flush_choice(const LoopSetting& setting);

// Whether a call on the calling thread, in `setting`, must run on it alone: the mode
// leaves FTZ and DAZ to the processor, and this thread's processor state flushes
// subnormals, which other threads' state may not.
bool must_stay_on_thread(const LoopSetting& setting);

}  // namespace tessivec::dispatch
