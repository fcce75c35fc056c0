#include "dispatch/runtime_session.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "dispatch/floating_point_state.hpp"
#include "dispatch/result_values.hpp"
#include "dispatch/mode_values.hpp"
#include "dispatch/runtime_library.hpp"
#include "runtime/runtime_services.hpp"

namespace tessivec::dispatch {

namespace {

using namespace mode_values;

// Whether this thread's last inner-loop call met underflow.
thread_local bool last_call_met_underflow = false;

using LocalThreadCount = int (*)(int);
using DomainThreadCount = int (*)(int);

// The thread-setting functions are not among the ones the extension declares.
const auto set_local_thread_count = reinterpret_cast<LocalThreadCount>(
    loaded_symbol(runtime_file(), "MKL_Set_Num_Threads_Local"));
const auto domain_max_threads = reinterpret_cast<DomainThreadCount>(
    loaded_symbol(runtime_file(), "MKL_Domain_Get_Max_Threads"));
constexpr int vector_math_domain = 3;  // MKL_DOMAIN_VML

constexpr npy_intp any_length = std::numeric_limits<npy_intp>::max();

}  // namespace

bool has_local_thread_count() { return set_local_thread_count != nullptr; }

bool runtime_splits_at_will() {
    // The runtime loads its threading layer when it is loaded itself.
    static const bool splits = is_loaded("libmkl_tbb_thread.so.3");
    return splits;
}

int runtime_threads() {
    return domain_max_threads != nullptr ? std::max(1, domain_max_threads(vector_math_domain))
                                         : 1;
}

unsigned flush_choice(const LoopSetting& setting) {
    const unsigned flush = setting.accuracy & FTZDAZ_MASK;
    return flush != FTZDAZ_CURRENT ? flush : runtime::vmlGetMode() & FTZDAZ_MASK;
}

bool must_stay_on_thread(const LoopSetting& setting) {
    return flushes_subnormals() && flush_choice(setting) == FTZDAZ_CURRENT;
}

// An accuracy or FTZDAZ field of 0 in an m form's mode keeps the thread's setting.
RuntimeSession::RuntimeSession(const Shape& shape, const LoopSetting& setting, npy_intp count,
                               ConditionRecord& record, bool in_place, RuntimeThreads threads)
    : shape_(shape),
      record_(record),
      accuracy_(setting.accuracy),
      watch_(Watch::status),
      mode_(static_cast<long long>(setting.accuracy | ERRMODE_IGNORE)),
      longest_run_(any_length),
      in_place_(in_place) {
    bool alone = threads == RuntimeThreads::this_thread_only;
    const bool evaluated = shape.evaluate != nullptr;
    // Where only this thread's flags are read, the runtime computes on this thread only.
    if (evaluated && shape.kernel_flags_tell && (count >= screened_below || in_place)) {
        watch_ = Watch::flags;
        alone = true;
    } else if (evaluated) {
        watch_ = Watch::results;
    } else if (count < screened_below) {
        watch_ = Watch::screened;
    } else {
        expects_underflow_ = last_call_met_underflow;
    }
    if (watch_ != Watch::status) {
        mode_ = static_cast<long long>(accuracy_ | ERRMODE_NOERR);
    } else {
        keep_prior_status();
    }
    if (watch_ == Watch::flags) {
        clear_sse_flags();  // what earlier calls on this thread left
    }
    const bool few = count >= threads_possible_from && count < one_thread_below;
    if ((alone || few) && set_local_thread_count != nullptr) {
        threads_ = set_local_thread_count(1);
        threads_set_ = true;
    }
    if (alone && runtime_splits_at_will()) {
        longest_run_ = tbb_alone_run;
    }
    if (in_place && !evaluated) {
        start_collecting();
    }
}

// The status a run leaves is read as the run's own: whatever the thread's status was
// before is kept aside, and put back when the call ends.
void RuntimeSession::keep_prior_status() {
    if (status_kept_) {
        return;
    }
    prior_status_ = runtime::vmlClearErrStatus();
    status_kept_ = true;
}

int RuntimeSession::take_status() {
    const int status = runtime::vmlGetErrStatus();
    if (status != STATUS_OK) {
        runtime::vmlClearErrStatus();
    }
    return status;
}

void RuntimeSession::start_collecting() {
    if (watch_ == Watch::collecting) {
        return;
    }
    keep_prior_status();
    thread_mode_ = runtime::vmlGetMode();
    callback_ = runtime::vmlGetErrorCallBack();
    collector_.emplace(record_);
    runtime::vmlSetErrorCallBack(collector_->function());
    mode_ = static_cast<long long>(accuracy_ | ERRMODE_CALLBACK);
    watch_ = Watch::collecting;
}

void RuntimeSession::evaluate(void* const* operands, npy_intp count) {
    const unsigned flush = flush_choice(LoopSetting{accuracy_});
    FlushSetting as_the_runtime(flush == FTZDAZ_ON, flush == FTZDAZ_OFF);
    int met = 0;
    for (npy_intp i = 0; i < count; ++i) {
        if (!normal_element(shape_, operands, i)) {
            met |= shape_.evaluate(operands, i);
        }
    }
    clear_sse_flags();
    record_.add(met);
}

bool RuntimeSession::after_run(void* const* operands, npy_intp count) {
    switch (watch_) {
        case Watch::collecting:
            take_status();
            return false;
        case Watch::screened:
            return !all_outputs(shape_, operands, count, true);
        case Watch::quiet:
            return !all_outputs(shape_, operands, count, false);
        case Watch::flags:
            if (sse_flags() == 0) {
                return false;
            }
            if (in_place_) {
                record_.add(sse_flags());
                clear_sse_flags();
            } else {
                evaluate(operands, count);
            }
            return false;
        case Watch::results:
            if (!all_outputs(shape_, operands, count, true)) {
                evaluate(operands, count);
            }
            return false;
        case Watch::status:
            break;
    }
    const int status = take_status();
    if (status == STATUS_OK) {
        return false;
    }
    // Where the last condition the status reports was underflow and every result is
    // finite, it was the only kind: nothing is left to find, and the rest of the call can
    // go quiet. Any other condition is told apart element by element.
    if (status == STATUS_UNDERFLOW && all_outputs(shape_, operands, count, false)) {
        record_.add(flag_of_status(status));
        mode_ = static_cast<long long>(accuracy_ | ERRMODE_NOERR);
        watch_ = Watch::quiet;
        return false;
    }
    return flag_of_status(status) != 0;
}

RuntimeSession::~RuntimeSession() {
    last_call_met_underflow = (record_.flags() & FE_UNDERFLOW) != 0;
    if (threads_set_) {
        set_local_thread_count(threads_);
    }
    if (collector_) {
        if (callback_ != nullptr) {
            runtime::vmlSetErrorCallBack(callback_);
        } else {
            runtime::vmlClearErrorCallBack();
        }
        // Setting or clearing a callback may change the mode's error-mode field.
        if (runtime::vmlGetMode() != thread_mode_) {
            runtime::vmlSetMode(thread_mode_);
        }
    }
    if (status_kept_ && prior_status_ != STATUS_OK) {
        runtime::vmlSetErrStatus(prior_status_);
    }
}

}  // namespace tessivec::dispatch
