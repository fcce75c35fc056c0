// The conditions one inner-loop call meets, collected from every thread that computes a
// part of it: the calling thread, the runtime's own threads (of any threading layer)
// and the team members a shared call is cut among. Conditions are kept as the
// floating-point flags NumPy reads them from.
#pragma once

#include <atomic>
#include <cstddef>

#include "runtime/runtime_records.hpp"

namespace tessivec::dispatch {

class ConditionRecord {
public:
    void add(int flags) {
        if (flags != 0) {
            flags_.fetch_or(flags, std::memory_order_relaxed);
        }
    }
    int flags() const { return flags_.load(std::memory_order_relaxed); }

private:
    std::atomic<int> flags_{0};
};

// The flag of the condition a runtime status code reports (0 for none and for codes that
// are no condition, such as an accuracy warning).
int flag_of_status(int status);

// The flag of the condition the runtime's error callback reports for one element. The
// runtime calls a pole a domain error here and there (pow(0, -1)) and 0/0 a singularity;
// IEEE 754 tells them by the result, as NumPy does: a NaN comes from an invalid
// operation, an exact infinity from a division by zero.
int flag_of_element(int status, double result);

// The runtime's error callback that records into one record for as long as it lives.
// The runtime keeps one callback per thread and lends it to the threads a call is split
// among, which call it with the failing element's context only: so each live record has
// a callback of its own address, by which the callback finds it.
class CollectingCallback {
public:
    explicit CollectingCallback(ConditionRecord& record);
    ~CollectingCallback();
    CollectingCallback(const CollectingCallback&) = delete;
    CollectingCallback& operator=(const CollectingCallback&) = delete;

    runtime::VMLErrorCallBack function() const { return function_; }

private:
    std::size_t slot_;
    runtime::VMLErrorCallBack function_;
};

}  // namespace tessivec::dispatch
