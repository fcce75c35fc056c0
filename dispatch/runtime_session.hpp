// What one inner-loop call sets around its runtime calls and puts back afterwards: the
// m forms' mode, the thread's error status and error callback, the floating-point
// status flags NumPy reads the conditions from, and the runtime's thread count.
//
// A run goes to the runtime first with the error mode IGNORE: the status then tells
// whether the run met any condition, at no cost when it met none. The status keeps the
// last condition only, so a run that met one is computed again with the error callback
// as the error mode, which sees every condition; so are all later runs of the call, on
// the calling thread alone, where the callback records what it sees.
//
// The runtime's condition handling is slow on underflowing elements (on float32 exp
// with 40 % underflowing results IGNORE takes 2.5x the time of NOERR). Once a call has
// met underflow, its flag is raised, and nothing more is to be learnt about underflow:
// later runs of the call go "quiet", with the error mode NOERR, and only a run that
// leaves a NaN or an infinity (what every other condition leaves) is computed again to
// find its conditions. A thread whose last call met underflow expects it again: the
// driver then computes a short first run to find out soon.
//
// A short call, where the status and its upkeep would cost as much as the computing,
// goes "screened" from the start: with NOERR, the status untouched, and every result
// looked at. Every condition leaves a result that is not a normal number (a NaN, an
// infinity, a subnormal or a zero), so a run whose results are all normal met none; any
// other run is computed again with the callback.
#pragma once

#include "dispatch/run_driver.hpp"
#include "runtime/runtime_records.hpp"

namespace tessivec::dispatch {

struct ThreadRecord;  // what a thread's inner-loop calls record

class RuntimeSession {
public:
    // `repeatable`: whether the runs' inputs survive the runtime call, so that a run can
    // be computed again; when they do not, every run goes with the callback from the start.
    // `alone`: whether the runtime computes on the calling thread only, whatever the count.
    RuntimeSession(const LoopSetting& setting, npy_intp count, bool repeatable,
                   bool alone = false);
    ~RuntimeSession();
    RuntimeSession(const RuntimeSession&) = delete;
    RuntimeSession& operator=(const RuntimeSession&) = delete;

    long long mode() const { return mode_; }
    bool collecting() const { return collecting_; }
    // Whether runs go with NOERR, their results to be checked for NaNs and infinities.
    bool quiet() const { return quiet_; }
    // Whether runs go with NOERR, their results to be checked for any value that is not a
    // normal number.
    bool screened() const { return screened_; }
    // Whether this thread's last inner-loop call met underflow.
    bool expects_underflow() const { return expects_underflow_; }
    // After each runtime call: the condition the thread's status reports for the run
    // (0 for none, and always 0 while collecting, the callback having seen them all);
    // the status is cleared.
    int take_status();
    // Records a condition the run met; after underflow, runs that can be computed again
    // go quiet.
    void note(int status);
    // From now on, runs go with the callback that sees every condition.
    void start_collecting();
    // The conditions this thread's call has met so far, one bit per status code from
    // STATUS_ERRDOM on.
    unsigned conditions() const;

private:
    void keep_prior_status();

    ThreadRecord& record_;  // the calling thread's, looked up once
    unsigned accuracy_;
    long long mode_;
    int prior_status_ = 0;
    int flags_;
    bool repeatable_;
    bool status_kept_ = false;
    bool collecting_ = false;
    bool quiet_ = false;
    bool screened_ = false;
    bool expects_underflow_;
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

// Whether the runtime offers per-thread thread counts (a stand-in runtime may not).
bool has_local_thread_count();

// Raises the floating-point flags NumPy reads `conditions` from (bits as
// RuntimeSession::conditions gives them), on the calling thread.
void report_conditions(unsigned conditions);

// How many threads the runtime may use for its vector functions on the calling thread,
// as its thread settings (and threadpoolctl's limits) say; 1 where it cannot tell.
int runtime_threads();

}  // namespace tessivec::dispatch
