#include "dispatch/run_driver.hpp"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "dispatch/condition_record.hpp"
#include "dispatch/floating_point_state.hpp"
#include "dispatch/mode_values.hpp"
#include "dispatch/result_values.hpp"
#include "dispatch/runtime_session.hpp"
#include "dispatch/runtime_team.hpp"
#include "runtime/runtime_services.hpp"

namespace tessivec::dispatch {

namespace {

constexpr npy_intp largest_run = std::numeric_limits<int>::max();
npy_intp configured_run_limit = largest_run;

// How each operand reaches the runtime.
enum class Passing : unsigned char {
    direct,  // contiguous memory, passed in place
    // An array input of stride 0: one value, repeated in a buffer filled once. No form
    // of the runtime reads it once at the contiguous form's speed: LinearFrac gives an
    // add's bits but divides too (2.4x to 4.5x vdAdd), the strided forms with an
    // increment of 0 gather (1.1x to 2.2x), Powx gives other bits than Pow.
    repeated,
    gathered,  // an array input copied into a buffer run by run: strided, or overwritten
    scattered,  // an output written into a buffer and copied out run by run
    value,  // a scalar input: the runtime takes it by value, from a copy made per run
};

constexpr std::size_t largest_element = 16;

// Each thread's buffers for copied operands: bounded by buffer_elements per operand,
// kept between calls so that large buffers are not mapped afresh every time. Null where
// the memory cannot be had; the driver then goes through a small buffer on the stack.
std::byte* thread_buffer(std::size_t bytes) noexcept {
    struct Buffer {
        std::byte* data = nullptr;
        std::size_t size = 0;
        ~Buffer() { std::free(data); }
    };
    thread_local Buffer buffer;
    if (buffer.size < bytes) {
        void* larger = std::realloc(buffer.data, bytes);
        if (larger == nullptr) {
            return nullptr;
        }
        buffer.data = static_cast<std::byte*>(larger);
        buffer.size = bytes;
    }
    return buffer.data;
}

// Where the thread's buffer cannot be had, runs of this many elements go through the stack.
constexpr npy_intp stack_elements = 64;

template <std::size_t Size>
void copy_elements(std::byte* target, npy_intp target_step, const char* source,
                   npy_intp source_step, npy_intp count) {
    for (npy_intp i = 0; i < count; ++i) {
        std::memcpy(target + i * target_step, source + i * source_step, Size);
    }
}

// Copies `count` elements of `size` bytes between strided places, with the element
// size known to the compiler for the runtime's four element types.
void copy_strided(std::byte* target, npy_intp target_step, const char* source,
                  npy_intp source_step, npy_intp count, std::size_t size) {
    const auto element = static_cast<npy_intp>(size);
    if (target_step == element && source_step == element) {
        std::memcpy(target, source, static_cast<std::size_t>(count) * size);
        return;
    }
    switch (size) {
        case 4:
            return copy_elements<4>(target, target_step, source, source_step, count);
        case 8:
            return copy_elements<8>(target, target_step, source, source_step, count);
        case 16:
            return copy_elements<16>(target, target_step, source, source_step, count);
        default:
            for (npy_intp i = 0; i < count; ++i) {
                std::memcpy(target + i * target_step, source + i * source_step, size);
            }
    }
}

// Whether two operands' memory over `count` elements overlaps, other than exactly.
bool overlaps(const char* a, npy_intp a_step, const char* b, npy_intp b_step, npy_intp count,
              std::size_t size) {
    if (a == b && a_step == b_step) {
        return false;
    }
    auto extent = [&](const char* start, npy_intp step) {
        const char* first = start + std::min<npy_intp>(0, step * (count - 1));
        const char* last = start + std::max<npy_intp>(0, step * (count - 1)) + size;
        return std::pair{first, last};
    };
    auto [a_first, a_last] = extent(a, a_step);
    auto [b_first, b_last] = extent(b, b_step);
    return a_first < b_last && b_first < a_last;
}

// Whether an output overlaps an input other than element for element: NumPy's reduce
// and accumulate hand over their running result so, and each element must then see the
// ones written before it.
bool sequential(const Shape& shape, char** args, npy_intp count, const npy_intp* steps) {
    for (std::size_t out = 0; out < shape.operands; ++out) {
        if (shape.kinds[out] != OperandKind::output) {
            continue;
        }
        if (steps[out] == 0 && count > 1) {
            return true;  // a reduction into one element
        }
        for (std::size_t in = 0; in < shape.operands; ++in) {
            if (in != out &&
                overlaps(args[out], steps[out], args[in], steps[in], count,
                         std::max(shape.sizes[out], shape.sizes[in]))) {
                return true;
            }
        }
    }
    return false;
}

// Whether an output is input `in`, element for element: the runtime computes in place,
// and the run's inputs are gone before it could be looked at or computed again.
bool overwritten(const Shape& shape, char** args, const npy_intp* steps, std::size_t in) {
    for (std::size_t out = 0; out < shape.operands; ++out) {
        if (shape.kinds[out] == OperandKind::output && args[out] == args[in] &&
            steps[out] == steps[in]) {
            return true;
        }
    }
    return false;
}

// How many elements from `start` on keep every scalar operand at one value.
npy_intp constant_run(const Shape& shape, char** args, const npy_intp* steps, npy_intp start,
                      npy_intp most) {
    npy_intp run = most;
    for (std::size_t i = 0; i < shape.operands; ++i) {
        if (shape.kinds[i] != OperandKind::scalar || steps[i] == 0) {
            continue;
        }
        const char* first = args[i] + start * steps[i];
        npy_intp same = 1;
        while (same < run && std::memcmp(first + same * steps[i], first, shape.sizes[i]) == 0) {
            ++same;
        }
        run = same;
    }
    return run;
}

bool is_buffered(Passing passing) {
    return passing == Passing::repeated || passing == Passing::gathered ||
           passing == Passing::scattered;
}

// How each operand of a call reaches the runtime. Built in place: a copy of it, read
// right after its bytes are written, stalls the processor on every call.
struct Plan {
    Plan(const Shape& shape, char** args, npy_intp count, const npy_intp* steps);

    Passing passing[max_operands] = {};
    bool buffered = false;
    bool varying_scalars = false;
    // An output overlaps an input other than element for element: the elements go one at
    // a time, each read after the one before it is written.
    bool one_at_a_time = false;
    // An output is an array input, which the runtime computes in place.
    bool in_place = false;
};

Plan::Plan(const Shape& shape, char** args, npy_intp count, const npy_intp* steps)
    : one_at_a_time(sequential(shape, args, count, steps)) {
    for (std::size_t k = 0; k < shape.operands; ++k) {
        const npy_intp step = steps[k];
        const bool contiguous = step == static_cast<npy_intp>(shape.sizes[k]) || count == 1;
        Passing& kind = passing[k];
        switch (shape.kinds[k]) {
            case OperandKind::scalar:
                kind = Passing::value;
                varying_scalars |= step != 0 && count > 1;
                break;
            case OperandKind::array: {
                // The session finds the conditions of a run computed in place from the
                // runtime's callback or the processor's flags, except where it must
                // evaluate NumPy's formula on every run: there the input is copied.
                const bool copied = contiguous && !one_at_a_time &&
                                    overwritten(shape, args, steps, k) &&
                                    shape.evaluate != nullptr && !shape.kernel_flags_tell;
                in_place |= contiguous && !one_at_a_time && !copied &&
                            overwritten(shape, args, steps, k);
                kind = one_at_a_time || copied ? Passing::gathered
                       : contiguous            ? Passing::direct
                       : step == 0             ? Passing::repeated
                                               : Passing::gathered;
                break;
            }
            case OperandKind::output:
                kind = contiguous && !one_at_a_time ? Passing::direct : Passing::scattered;
                break;
        }
        buffered |= is_buffered(kind);
    }
}

// Computes elements `begin` to `end` of the call, run by run, on the calling thread.
void compute(const Shape& shape, RuntimeCall call, char** args, npy_intp begin, npy_intp end,
             const npy_intp* steps, const Plan& plan, RuntimeSession& session) {
    const npy_intp count = end - begin;
    void* operands[max_operands];
    alignas(largest_element) std::byte values[max_operands][largest_element];
    alignas(64) std::byte stack_buffers[max_operands][stack_elements * largest_element];
    npy_intp limit = std::min(configured_run_limit, session.longest_run());
    std::byte* buffers[max_operands] = {};
    if (plan.buffered) {
        limit = std::min(limit, plan.one_at_a_time ? npy_intp{1} : buffer_elements);
        npy_intp filled = std::min(count, limit);
        std::size_t offset = 0;
        std::size_t offsets[max_operands] = {};
        for (std::size_t k = 0; k < shape.operands; ++k) {
            if (is_buffered(plan.passing[k])) {
                offsets[k] = offset;
                offset += static_cast<std::size_t>(filled) * shape.sizes[k];
                offset = (offset + 63) & ~std::size_t{63};
            }
        }
        std::byte* storage = thread_buffer(offset);
        for (std::size_t k = 0; k < shape.operands; ++k) {
            buffers[k] = storage != nullptr ? storage + offsets[k] : stack_buffers[k];
        }
        if (storage == nullptr) {
            limit = std::min(limit, stack_elements);
            filled = std::min(count, limit);
        }
        for (std::size_t k = 0; k < shape.operands; ++k) {
            if (plan.passing[k] == Passing::repeated) {
                const auto size = static_cast<npy_intp>(shape.sizes[k]);
                copy_strided(buffers[k], size, args[k], 0, filled, shape.sizes[k]);
            }
        }
    }
    // A thread that met underflow in its last call is likely to meet it again: a short
    // first run finds out before the bulk of the call pays the slow condition handling.
    npy_intp first_run = limit;
    if (session.expects_underflow() && count >= probe_from) {
        first_run = std::min(limit, underflow_probe);
    }
    for (npy_intp done = begin; done < end;) {
        npy_intp run = std::min(end - done, done == begin ? first_run : limit);
        if (plan.varying_scalars) {
            run = constant_run(shape, args, steps, done, run);
        }
        for (std::size_t k = 0; k < shape.operands; ++k) {
            char* start = args[k] + done * steps[k];
            const auto size = static_cast<npy_intp>(shape.sizes[k]);
            switch (plan.passing[k]) {
                case Passing::direct:
                    operands[k] = start;
                    break;
                case Passing::value:
                    // A copy: an output may be this operand's memory, and a run computed
                    // again must read the value the first computing read.
                    std::memcpy(values[k], start, shape.sizes[k]);
                    operands[k] = values[k];
                    break;
                case Passing::repeated:
                case Passing::scattered:
                    operands[k] = buffers[k];
                    break;
                case Passing::gathered:
                    copy_strided(buffers[k], size, start, steps[k], run, shape.sizes[k]);
                    operands[k] = buffers[k];
                    break;
            }
        }
        call(static_cast<int>(run), operands, session.mode());
        if (session.after_run(operands, run)) {
            session.start_collecting();
            call(static_cast<int>(run), operands, session.mode());
            session.after_run(operands, run);
        }
        for (std::size_t k = 0; k < shape.operands; ++k) {
            if (plan.passing[k] == Passing::scattered) {
                copy_strided(reinterpret_cast<std::byte*>(args[k] + done * steps[k]), steps[k],
                             reinterpret_cast<const char*>(buffers[k]),
                             static_cast<npy_intp>(shape.sizes[k]), run, shape.sizes[k]);
            }
        }
        done += run;
    }
}

// The calling thread's floating-point flags around one inner-loop call: the flags
// raised before it (by NumPy's casts, by earlier loops of the same ufunc call) stay;
// those the runtime's kernels leave behind, in the SSE or the x87 unit, go, whether
// the computation met them or not; then the conditions the call met are raised, for
// NumPy to handle as numpy.errstate says.
class ReportedConditions {
public:
    ReportedConditions() : before_(raised_flags()) {
        if (before_ != 0) {
            std::feclearexcept(before_);  // so that only the call's own flags are read
        }
    }
    ~ReportedConditions() {
        const int left = raised_flags();
        if (left != 0) {
            std::feclearexcept(left);
        }
        const int reported = before_ | record.flags();
        if (reported != 0) {
            std::feraiseexcept(reported);
        }
    }
    ReportedConditions(const ReportedConditions&) = delete;
    ReportedConditions& operator=(const ReportedConditions&) = delete;

    ConditionRecord record;

private:
    int before_;
};

std::atomic<long> shared_calls{0};

// The setting other threads compute the calling thread's call in: the accuracy and
// FTZ/DAZ choice of the calling thread's mode where the call takes the thread's, since
// each thread has a mode of its own.
LoopSetting for_other_threads(const LoopSetting& setting) {
    const unsigned thread_mode = runtime::vmlGetMode();
    const unsigned accuracy = (setting.accuracy & mode_values::ACCURACY_MASK) != 0
                                  ? setting.accuracy & mode_values::ACCURACY_MASK
                                  : thread_mode & mode_values::ACCURACY_MASK;
    return LoopSetting{accuracy | (thread_mode & mode_values::FTZDAZ_MASK)};
}

struct SharedCall {
    const Shape& shape;
    RuntimeCall call;
    char** args;
    npy_intp count;
    const npy_intp* steps;
    const Plan& plan;
    LoopSetting setting;
    ConditionRecord& record;
    int parts;
    npy_intp share;
    std::atomic<int> next_part{0};
};

// One team member's parts of a shared call, computed by the runtime on this thread
// alone, in one session for all of them, which records into the call's record.
void compute_parts(void* data) noexcept {
    SharedCall& shared = *static_cast<SharedCall*>(data);
    std::optional<RuntimeSession> session;
    // Parts go to whichever member is free, so that a member woken late takes fewer.
    for (int part; (part = shared.next_part.fetch_add(1)) < shared.parts;) {
        const npy_intp begin = shared.share * part;
        const npy_intp end = std::min(shared.count, begin + shared.share);
        if (!session) {
            session.emplace(shared.shape, shared.setting, shared.share, shared.record,
                            shared.plan.in_place, RuntimeThreads::this_thread_only);
        }
        compute(shared.shape, shared.call, shared.args, begin, end, shared.steps, shared.plan,
                *session);
    }
}

// A call shared out, cut into parts that the runtime's threads compute, each its own on
// the thread that takes it, recording into the call's record; the copies through the
// buffers are then every thread's work, and a call whose conditions only the computing
// thread's flags show, or that the runtime's callback reports, is never split by the
// runtime behind the driver's back. False where the runtime has no threads to lend.
bool compute_in_parts(const Shape& shape, RuntimeCall call, char** args, npy_intp count,
                      const npy_intp* steps, const LoopSetting& setting, const Plan& plan,
                      ConditionRecord& record, int threads) {
    // At least parallel_part elements each, whole buffers where the operands go through
    // them, whole cache lines otherwise: the threads take them one at a time, so that
    // parts many against the threads keep them all busy to the end.
    const npy_intp unit = plan.buffered ? buffer_elements : npy_intp{64};
    const npy_intp fewest = (count + max_parts - 1) / max_parts;
    const npy_intp share = (std::max(parallel_part, fewest) + unit - 1) / unit * unit;
    const int parts = static_cast<int>((count + share - 1) / share);
    SharedCall shared{shape, call, args, count, steps, plan, for_other_threads(setting),
                      record, parts, share};
    if (!run_on_runtime_team(&compute_parts, &shared, std::min(parts, threads))) {
        return false;
    }
    shared_calls.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// Whether the memory of two operands over `count` elements overlaps at all.
bool touches(const char* a, const char* b, npy_intp count, std::size_t a_size,
             std::size_t b_size) {
    return a < b + count * static_cast<npy_intp>(b_size) &&
           b < a + count * static_cast<npy_intp>(a_size);
}

// A short call whose operands are contiguous and apart from each other, as most short
// calls are, computed with NOERR and nothing else: where every result is a normal number
// it met no condition, and where the call raised no new flag in the SSE unit (the
// runtime's kernels raise flags in the x87 unit only for special values, whose results
// are no normal numbers) there is nothing to clear. Otherwise the flags the call raised
// go, and the call goes the whole way, which computes it again and finds its conditions.
bool short_call(const Shape& shape, RuntimeCall call, char** args, npy_intp count,
                const npy_intp* steps, const LoopSetting& setting) {
    void* operands[max_operands];
    for (std::size_t k = 0; k < shape.operands; ++k) {
        // A scalar operand is one value for the whole call; an array one is contiguous.
        const npy_intp wanted = shape.kinds[k] == OperandKind::scalar
                                    ? 0
                                    : static_cast<npy_intp>(shape.sizes[k]);
        if (count > 1 && steps[k] != wanted) {
            return false;
        }
        if (shape.kinds[k] == OperandKind::output) {
            for (std::size_t in = 0; in < shape.operands; ++in) {
                if (in != k && touches(args[k], args[in], count, shape.sizes[k],
                                       shape.sizes[in])) {
                    return false;
                }
            }
        }
        operands[k] = args[k];
    }
    const int before = raised_flags();
    const auto mode = static_cast<long long>(setting.accuracy | mode_values::ERRMODE_NOERR);
    call(static_cast<int>(count), operands, mode);
    if (all_outputs(shape, operands, count, true) && (sse_flags() & ~before) == 0) {
        return true;
    }
    const int raised = raised_flags() & ~before;
    if (raised != 0) {
        std::feclearexcept(raised);
    }
    return false;
}

}  // namespace

npy_intp run_limit() { return configured_run_limit; }

void set_run_limit(npy_intp elements) {
    configured_run_limit = std::clamp<npy_intp>(elements, 1, largest_run);
}

long calls_shared() { return shared_calls.load(std::memory_order_relaxed); }

void run(const Shape& shape, RuntimeCall call, char** args, npy_intp count,
         const npy_intp* steps, const LoopSetting& setting, ThreadChoice& choice) noexcept {
    if (count <= 0 || (count < screened_below &&
                       short_call(shape, call, args, count, steps, setting))) {
        return;
    }
    ReportedConditions reported;
    const Plan plan(shape, args, count, steps);
    const bool alone = must_stay_on_thread(setting);
    // Where the runtime lends its team, the driver shares a call, or keeps it on the
    // calling thread, as the loop's earlier calls found faster; the runtime never splits
    // a run itself.
    if (!alone && !plan.one_at_a_time && count >= ThreadChoice::considered_from &&
        runtime_team_available()) {
        if (const int threads = runtime_threads(); threads > 1) {
            const auto started = std::chrono::steady_clock::now();
            const bool shared = choice.share(count) &&
                                compute_in_parts(shape, call, args, count, steps, setting,
                                                 plan, reported.record, threads);
            if (!shared) {
                RuntimeSession session(shape, setting, count, reported.record, plan.in_place,
                                       RuntimeThreads::this_thread_only);
                compute(shape, call, args, 0, count, steps, plan, session);
            }
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
            choice.learn(count, shared, took.count());
            return;
        }
    }
    RuntimeSession session(shape, setting, count, reported.record, plan.in_place,
                           alone ? RuntimeThreads::this_thread_only
                                 : RuntimeThreads::as_the_runtime_chooses);
    compute(shape, call, args, 0, count, steps, plan, session);
}

}  // namespace tessivec::dispatch
