// How far the runtime reaches into its arrays, as measured: the elementwise families
// touch the count's number of elements in every array; PackI reads elements 0, incr,
// ..., (n-1)*incr and UnpackI writes them; PackV reads and UnpackV writes up to the
// largest index; PackM writes and UnpackM reads one element per non-zero mask entry. A
// count of zero or less touches no array. A negative increment or index reaches before
// the array's start. lib's length checks and vm's gather and scatter both apply these.
#pragma once

#include <algorithm>
#include <limits>
#include <optional>

namespace tessivec::common {

// What one argument must hold: a number of elements, nothing known, or a reach before
// the start of the array by a negative increment or index.
struct Requirement {
    enum Kind { elements, unknown, before_start } kind = unknown;
    long long count = 0;
    const char* cause = "";  // "increment" or "index", for a reach before the start
    long long cause_value = 0;

    static Requirement of(long long n) { return {elements, std::max(n, 0LL)}; }
    static Requirement reaching_back(const char* cause, long long value) {
        return {before_start, 0, cause, value};
    }
};

// Elements 0, step, ..., (n-1)*step of a strided array.
inline Requirement strided(long long n, std::optional<long long> step) {
    if (n <= 0) {
        return Requirement::of(0);
    }
    if (!step) {
        return {};
    }
    if (*step < 0 && n > 1) {
        return Requirement::reaching_back("increment", *step);
    }
    return Requirement::of(1 + (n - 1) * std::max(*step, 0LL));
}

// Up to the largest of the n indexes (the runtime's ints, or a copy of wider ones).
template <class Index>
Requirement indexed(long long n, const Index* indexes) {
    if (n <= 0) {
        return Requirement::of(0);
    }
    if (indexes == nullptr) {
        return {};
    }
    auto [smallest, largest] = std::minmax_element(indexes, indexes + n);
    if (*smallest < 0) {
        return Requirement::reaching_back("index", *smallest);
    }
    // Saturates where the largest index is the largest 64-bit value: no array holds it.
    const auto last = static_cast<long long>(*largest);
    return Requirement::of(last < std::numeric_limits<long long>::max() ? last + 1 : last);
}

// One element per non-zero entry among the first n of the mask.
inline Requirement masked(long long n, const int* mask) {
    if (n <= 0) {
        return Requirement::of(0);
    }
    if (mask == nullptr) {
        return {};
    }
    return Requirement::of(std::count_if(mask, mask + n, [](int entry) { return entry != 0; }));
}

}  // namespace tessivec::common
