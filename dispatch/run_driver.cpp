#include "dispatch/run_driver.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "dispatch/floating_point_state.hpp"
#include "dispatch/mode_values.hpp"
#include "dispatch/plain_allocator.hpp"
#include "dispatch/runtime_session.hpp"
#include "dispatch/runtime_team.hpp"
#include "runtime/runtime_functions.hpp"

namespace tessivec::dispatch {

namespace {

constexpr npy_intp largest_run = std::numeric_limits<int>::max();
npy_intp configured_run_limit = largest_run;

// How each operand reaches the runtime.
enum class Passing : unsigned char {
    direct,  // contiguous memory, passed in place
    repeated,  // an array input of stride 0: one value, repeated in a buffer filled once
    gathered,  // a strided array input, copied into a buffer run by run
    scattered,  // a strided output, written into a buffer and copied out run by run
    value,  // a scalar input: the runtime takes it by value
};

// Each thread's buffers for strided operands: bounded by buffer_elements per operand,
// kept between calls so that large buffers are not mapped afresh every time.
std::byte* thread_buffer(std::size_t bytes) {
    thread_local Vector<std::byte> buffer;
    if (buffer.size() < bytes) {
        buffer.resize(bytes);
    }
    return buffer.data();
}

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

// Whether an output is an input, element for element: the runtime computes in place,
// and the run's inputs are gone once it returns.
bool in_place(const Shape& shape, char** args, const npy_intp* steps) {
    for (std::size_t out = 0; out < shape.operands; ++out) {
        for (std::size_t in = 0; in < shape.operands; ++in) {
            if (shape.kinds[out] == OperandKind::output && shape.kinds[in] == OperandKind::array &&
                args[out] == args[in] && steps[out] == steps[in]) {
                return true;
            }
        }
    }
    return false;
}

enum class Accepted : unsigned char { finite, normal };

template <class Real>
bool accepted_values(const void* data, npy_intp count, Accepted accepted) {
    const auto* values = static_cast<const Real*>(data);
    bool all = true;
    if (accepted == Accepted::normal) {
        for (npy_intp i = 0; i < count; ++i) {
            all &= std::isnormal(values[i]);
        }
    } else {
        for (npy_intp i = 0; i < count; ++i) {
            all &= std::isfinite(values[i]);
        }
    }
    return all;
}

// Whether every output of the run holds values of the accepted kind only.
bool all_outputs(const Shape& shape, void* const* operands, npy_intp count, Accepted accepted) {
    for (std::size_t k = 0; k < shape.operands; ++k) {
        if (shape.kinds[k] != OperandKind::output) {
            continue;
        }
        const char type = shape.types[k];
        const npy_intp parts = type == NPY_CFLOAT || type == NPY_CDOUBLE ? 2 : 1;
        const bool all = type == NPY_FLOAT || type == NPY_CFLOAT
                             ? accepted_values<float>(operands[k], count * parts, accepted)
                             : accepted_values<double>(operands[k], count * parts, accepted);
        if (!all) {
            return false;
        }
    }
    return true;
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

// How each operand of a call reaches the runtime. Built in place: a copy of it, read
// right after its bytes are written, stalls the processor on every call.
struct Plan {
    Plan(const Shape& shape, npy_intp count, const npy_intp* steps);

    Passing passing[max_operands] = {};
    bool buffered = false;
    bool varying_scalars = false;
};

Plan::Plan(const Shape& shape, npy_intp count, const npy_intp* steps) {
    for (std::size_t k = 0; k < shape.operands; ++k) {
        const npy_intp step = steps[k];
        const bool contiguous = step == static_cast<npy_intp>(shape.sizes[k]) || count == 1;
        Passing& kind = passing[k];
        switch (shape.kinds[k]) {
            case OperandKind::scalar:
                kind = Passing::value;
                varying_scalars |= step != 0 && count > 1;
                break;
            case OperandKind::array:
                kind = contiguous ? Passing::direct
                       : step == 0 ? Passing::repeated
                                   : Passing::gathered;
                break;
            case OperandKind::output:
                kind = contiguous ? Passing::direct : Passing::scattered;
                break;
        }
        buffered |= kind == Passing::repeated || kind == Passing::gathered ||
                    kind == Passing::scattered;
    }
}

// Computes elements `begin` to `end` of the call, run by run, on the calling thread.
void compute(const Shape& shape, RuntimeCall call, char** args, npy_intp begin, npy_intp end,
             const npy_intp* steps, const Plan& plan, RuntimeSession& session) {
    const npy_intp count = end - begin;
    void* operands[max_operands];
    npy_intp limit = configured_run_limit;
    std::byte* buffers[max_operands] = {};
    if (plan.buffered) {
        limit = std::min(limit, buffer_elements);
        const npy_intp filled = std::min(count, limit);
        std::size_t offset = 0;
        std::size_t offsets[max_operands] = {};
        for (std::size_t k = 0; k < shape.operands; ++k) {
            if (plan.passing[k] == Passing::repeated || plan.passing[k] == Passing::gathered ||
                plan.passing[k] == Passing::scattered) {
                offsets[k] = offset;
                offset += static_cast<std::size_t>(filled) * shape.sizes[k];
                offset = (offset + 63) & ~std::size_t{63};
            }
        }
        std::byte* storage = thread_buffer(offset);
        for (std::size_t k = 0; k < shape.operands; ++k) {
            buffers[k] = storage + offsets[k];
            if (plan.passing[k] == Passing::repeated) {
                const auto size = static_cast<npy_intp>(shape.sizes[k]);
                copy_strided(buffers[k], size, args[k], 0, filled, shape.sizes[k]);
            }
        }
    }
    // A thread that met underflow in its last call is likely to meet it again: a short
    // first run finds out before the bulk of the call pays the slow condition handling.
    npy_intp first_run = limit;
    if (session.expects_underflow() && count >= probe_from && !session.collecting()) {
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
                case Passing::value:
                    operands[k] = start;
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
        // A domain error leaves a NaN, a singularity or overflow an infinity, underflow a
        // subnormal or a zero. A quiet or screened run reports nothing, so only its
        // results tell whether it met a condition; where the last condition a status
        // reports was underflow and every result is finite, it was the only kind.
        // Otherwise the run is computed again to find every condition.
        bool again;
        if (session.screened()) {
            again = !all_outputs(shape, operands, run, Accepted::normal);
        } else if (session.quiet()) {
            again = !all_outputs(shape, operands, run, Accepted::finite);
        } else {
            const int status = session.take_status();
            if (status != 0) {
                session.note(status);
            }
            again = status != 0 && (status != mode_values::STATUS_UNDERFLOW ||
                                    !all_outputs(shape, operands, run, Accepted::finite));
        }
        if (again) {
            session.start_collecting();
            call(static_cast<int>(run), operands, session.mode());
            session.take_status();
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

std::atomic<long> shared_calls{0};

// The setting other threads compute the calling thread's call in: the accuracy and
// FTZ/DAZ choice of the calling thread's mode where the call takes the thread's, since
// each thread has a mode of its own. None where the mode leaves FTZ and DAZ to the
// processor and the calling thread's processor state flushes subnormals (as a library
// built with -ffast-math leaves it): the other threads' state is their own, and whether
// the runtime heeds it is the runtime's choice, so such a call stays on its thread.
std::optional<LoopSetting> for_other_threads(const LoopSetting& setting) {
    const unsigned thread_mode = runtime::vmlGetMode();
    const unsigned flush = thread_mode & mode_values::FTZDAZ_MASK;
    if (flush == mode_values::FTZDAZ_CURRENT && flushes_subnormals()) {
        return std::nullopt;
    }
    const unsigned accuracy = setting.accuracy != 0
                                  ? setting.accuracy
                                  : thread_mode & mode_values::ACCURACY_MASK;
    return LoopSetting{accuracy | flush};
}

struct SharedCall {
    const Shape& shape;
    RuntimeCall call;
    char** args;
    npy_intp count;
    const npy_intp* steps;
    const Plan& plan;
    LoopSetting setting;
    bool repeatable;
    int parts;
    npy_intp share;
    std::atomic<int> next_part{0};
    std::atomic<unsigned> conditions{0};
};

// One team member's parts of a shared call, computed by the runtime on this thread
// alone, in one session for all of them.
void compute_parts(void* data) {
    SharedCall& shared = *static_cast<SharedCall*>(data);
    std::optional<RuntimeSession> session;
    // Parts go to whichever member is free, so that a member woken late takes fewer.
    for (int part; (part = shared.next_part.fetch_add(1)) < shared.parts;) {
        const npy_intp begin = shared.share * part;
        const npy_intp end = std::min(shared.count, begin + shared.share);
        if (!session) {
            session.emplace(shared.setting, shared.share, shared.repeatable, true);
        }
        compute(shared.shape, shared.call, shared.args, begin, end, shared.steps, shared.plan,
                *session);
    }
    if (session) {
        shared.conditions.fetch_or(session->conditions(), std::memory_order_relaxed);
    }
}

// A buffered call shared out: the copies through the buffers are the calling thread's
// work, and the runtime, given one bounded run at a time, would leave its own threads
// idle. The call is cut into parts that the runtime's threads compute, each its own; the
// conditions they meet are reported on the calling thread. False where the runtime has
// no threads to lend, or the calling thread's processor state cannot be passed on.
bool compute_in_parts(const Shape& shape, RuntimeCall call, char** args, npy_intp count,
                      const npy_intp* steps, const LoopSetting& setting, const Plan& plan,
                      bool repeatable, int threads) {
    // Parts of whole buffers, at least parallel_part elements each: the threads take them
    // one at a time, so that parts many against the threads keep them all busy to the end.
    const npy_intp fewest = (count + max_parts - 1) / max_parts;
    const npy_intp share = (std::max(parallel_part, fewest) + buffer_elements - 1) /
                           buffer_elements * buffer_elements;
    const int parts = static_cast<int>((count + share - 1) / share);
    const std::optional<LoopSetting> other_setting = for_other_threads(setting);
    if (!other_setting) {
        return false;
    }
    SharedCall shared{shape, call, args, count, steps, plan, *other_setting,
                      repeatable, parts, share};
    if (!run_on_runtime_team(&compute_parts, &shared, std::min(parts, threads))) {
        return false;
    }
    shared_calls.fetch_add(1, std::memory_order_relaxed);
    const unsigned met = shared.conditions.load(std::memory_order_relaxed);
    report_conditions(met);
    return true;
}

}  // namespace

npy_intp run_limit() { return configured_run_limit; }

void set_run_limit(npy_intp elements) {
    configured_run_limit = std::clamp<npy_intp>(elements, 1, largest_run);
}

long calls_shared() { return shared_calls.load(std::memory_order_relaxed); }

void run(const Shape& shape, RuntimeCall call, char** args, npy_intp count,
         const npy_intp* steps, const LoopSetting& setting) {
    if (count <= 0) {
        return;
    }
    if (sequential(shape, args, count, steps)) {
        void* operands[max_operands];
        RuntimeSession session(setting, count, false);
        for (npy_intp i = 0; i < count; ++i) {
            for (std::size_t k = 0; k < shape.operands; ++k) {
                operands[k] = args[k] + i * steps[k];
            }
            call(1, operands, session.mode());
            session.take_status();
        }
        return;
    }
    const bool repeatable = !in_place(shape, args, steps);
    const Plan plan(shape, count, steps);
    if (plan.buffered && count >= shared_from) {
        const int threads = runtime_threads();
        if (threads > 1 && compute_in_parts(shape, call, args, count, steps, setting, plan,
                                            repeatable, threads)) {
            return;
        }
    }
    RuntimeSession session(setting, count, repeatable);
    compute(shape, call, args, 0, count, steps, plan, session);
}

}  // namespace tessivec::dispatch
