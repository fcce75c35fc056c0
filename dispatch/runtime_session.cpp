#include "dispatch/runtime_session.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <cfenv>

#include "dispatch/floating_point_state.hpp"
#include "dispatch/mode_values.hpp"
#include "runtime/runtime_functions.hpp"

namespace tessivec::dispatch {

// What a thread's inner-loop calls record, in one thread-local object so that a call
// looks it up once.
struct ThreadRecord {
    // The conditions met during the current call, one bit per status code from
    // STATUS_ERRDOM (domain) to STATUS_UNDERFLOW.
    unsigned seen_conditions = 0;
    // Whether the last call met underflow.
    bool last_call_met_underflow = false;
};

namespace {

using namespace mode_values;

thread_local ThreadRecord thread_record;

constexpr unsigned underflow_bit = 1u << (STATUS_UNDERFLOW - STATUS_ERRDOM);

void note_condition(int status) {
    if (status >= STATUS_ERRDOM && status <= STATUS_UNDERFLOW) {
        thread_record.seen_conditions |= 1u << (status - STATUS_ERRDOM);
    }
}

int collect_condition(runtime::DefVmlErrorContext* context) {
    note_condition(context->iCode);
    return 0;  // the result stays as the runtime computed it
}

// The floating-point status flag NumPy reads each condition from, in status-code order:
// domain as invalid, singularity as divide, overflow, underflow.
constexpr int flag_of_condition[] = {FE_INVALID, FE_DIVBYZERO, FE_OVERFLOW, FE_UNDERFLOW};

// A function of the runtime the extension is bound to, by name, or null: the
// thread-setting functions are not among the ones the extension declares.
void* runtime_symbol(const char* name) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&runtime::vdExp), &info) == 0 ||
        info.dli_fname == nullptr) {
        return nullptr;
    }
    void* library = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) {
        return nullptr;
    }
    void* symbol = dlsym(library, name);
    dlclose(library);  // the extension's own reference keeps the runtime loaded
    return symbol;
}

using LocalThreadCount = int (*)(int);
using DomainThreadCount = int (*)(int);

const auto set_local_thread_count =
    reinterpret_cast<LocalThreadCount>(runtime_symbol("MKL_Set_Num_Threads_Local"));
const auto domain_max_threads =
    reinterpret_cast<DomainThreadCount>(runtime_symbol("MKL_Domain_Get_Max_Threads"));
constexpr int vector_math_domain = 3;  // MKL_DOMAIN_VML

}  // namespace

bool has_local_thread_count() { return set_local_thread_count != nullptr; }

int runtime_threads() {
    return domain_max_threads != nullptr ? std::max(1, domain_max_threads(vector_math_domain))
                                         : 1;
}

// An accuracy or FTZDAZ field of 0 in an m form's mode keeps the thread's setting.
RuntimeSession::RuntimeSession(const LoopSetting& setting, npy_intp count, bool repeatable,
                               bool alone)
    : record_(thread_record),
      accuracy_(setting.accuracy),
      mode_(static_cast<long long>(setting.accuracy | ERRMODE_IGNORE)),
      flags_(raised_condition_flags()),
      repeatable_(repeatable) {
    record_.seen_conditions = 0;
    expects_underflow_ = record_.last_call_met_underflow;
    if (repeatable && count < screened_below) {
        mode_ = static_cast<long long>(accuracy_ | ERRMODE_NOERR);
        screened_ = true;
        return;
    }
    keep_prior_status();
    if ((alone || (count >= threads_possible_from && count < one_thread_below)) &&
        set_local_thread_count != nullptr) {
        threads_ = set_local_thread_count(1);
        threads_set_ = true;
    }
    if (!repeatable) {
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

void RuntimeSession::start_collecting() {
    if (collecting_) {
        return;
    }
    keep_prior_status();
    thread_mode_ = runtime::vmlGetMode();
    callback_ = runtime::vmlGetErrorCallBack();
    runtime::vmlSetErrorCallBack(&collect_condition);
    // The callback runs on whichever thread meets the condition, and only the calling
    // thread's record is read: while collecting, the runtime computes on this thread.
    if (!threads_set_ && set_local_thread_count != nullptr) {
        threads_ = set_local_thread_count(1);
        threads_set_ = true;
    }
    mode_ = static_cast<long long>(accuracy_ | ERRMODE_CALLBACK);
    collecting_ = true;
    quiet_ = false;
    screened_ = false;
}

unsigned RuntimeSession::conditions() const { return record_.seen_conditions; }

int RuntimeSession::take_status() {
    const int status = runtime::vmlGetErrStatus();
    if (status == STATUS_OK) {
        return STATUS_OK;
    }
    runtime::vmlClearErrStatus();
    return collecting_ ? STATUS_OK : status;
}

void RuntimeSession::note(int status) {
    note_condition(status);
    if (status == STATUS_UNDERFLOW && repeatable_ && !collecting_) {
        mode_ = static_cast<long long>(accuracy_ | ERRMODE_NOERR);
        quiet_ = true;
    }
}

RuntimeSession::~RuntimeSession() {
    const unsigned seen = record_.seen_conditions;
    record_.last_call_met_underflow = (seen & underflow_bit) != 0;
    if (threads_set_) {
        set_local_thread_count(threads_);
    }
    if (collecting_) {
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
    // Flags the runtime's own arithmetic raised go; the conditions it reported are
    // raised for NumPy, which handles them as numpy.errstate says.
    const int raised = raised_condition_flags() & ~flags_;
    if (raised != 0) {
        std::feclearexcept(raised);
    }
    report_conditions(seen);
}

void report_conditions(unsigned conditions) {
    int reported = 0;
    for (unsigned i = 0; i < 4; ++i) {
        if (conditions & (1u << i)) {
            reported |= flag_of_condition[i];
        }
    }
    if (reported != 0) {
        std::feraiseexcept(reported);
    }
}

}  // namespace tessivec::dispatch
