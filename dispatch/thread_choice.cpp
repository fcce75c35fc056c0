#include "dispatch/thread_choice.hpp"

#include <algorithm>
#include <bit>

namespace tessivec::dispatch {

namespace {
std::atomic<Sharing> configured_sharing{Sharing::learnt};
}  // namespace

Sharing sharing() noexcept { return configured_sharing.load(std::memory_order_relaxed); }

void set_sharing(Sharing way) noexcept {
    configured_sharing.store(way, std::memory_order_relaxed);
}

int ThreadChoice::class_of(npy_intp count) noexcept {
    const auto log2 = [](npy_intp n) {
        return static_cast<int>(std::bit_width(static_cast<std::uint64_t>(n))) - 1;
    };
    return std::clamp(log2(count) - log2(considered_from), 0, size_classes - 1);
}

bool ThreadChoice::share(npy_intp count) noexcept {
    if (const Sharing way = sharing(); way != Sharing::learnt) {
        return way == Sharing::always;
    }
    SizeClass& size = classes_[class_of(count)];
    const std::uint32_t alone = size.samples[0].load(std::memory_order_relaxed);
    const std::uint32_t shared = size.samples[1].load(std::memory_order_relaxed);
    if (alone < first_samples || shared < first_samples) {
        return shared < alone;
    }
    const bool faster_shared = size.cost[1].load(std::memory_order_relaxed) <
                               size.cost[0].load(std::memory_order_relaxed);
    const std::uint32_t call = size.calls.fetch_add(1, std::memory_order_relaxed);
    return call % looked_at_again == looked_at_again - 1 ? !faster_shared : faster_shared;
}

// A way's cost follows its calls' times, a quarter of the way per call, a call that took
// more than twice the cost counting as twice: one interrupted call changes little, and a
// way whose times vary (sharing while the other cores are busy) is judged by its usual
// time, not by its luckiest. The first call a way is timed may have paid for starting
// the runtime's threads or for mapping the output's pages: the second takes its place
// where it was faster.
void ThreadChoice::learn(npy_intp count, bool shared, double seconds) noexcept {
    SizeClass& size = classes_[class_of(count)];
    const int way = shared ? 1 : 0;
    const auto cost = static_cast<float>(seconds * 1e9 / static_cast<double>(count));
    const std::uint32_t samples = size.samples[way].load(std::memory_order_relaxed);
    const float known = size.cost[way].load(std::memory_order_relaxed);
    float updated = cost;
    if (samples > 1 || (samples == 1 && cost >= known)) {
        updated = known + (std::min(cost, 2 * known) - known) / 4;
    }
    size.cost[way].store(updated, std::memory_order_relaxed);
    if (samples < first_samples) {
        size.samples[way].store(samples + 1, std::memory_order_relaxed);
    }
}

}  // namespace tessivec::dispatch
