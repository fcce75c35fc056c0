// Whether a call of one loop is shared among the runtime's threads, learnt from the calls
// of that loop that came before. What sharing gains depends on the operation's cost per
// element, on the kernels the runtime picked for this processor, on the caches and on
// whether the other cores are free: an exp of 10^5 elements computes twice as fast on two
// cores, an add of the same size three times slower, its operands moving between the
// cores' caches. No table made at build time knows the machine the module runs on, so
// each loop times its own calls, shared and alone, per size class, and keeps to the
// faster.
#pragma once

#include <atomic>
#include <cstdint>

#include "dispatch/numpy_api.hpp"

namespace tessivec::dispatch {

// How large calls are shared: as each loop finds faster, or, for tests that must know,
// always or never.
enum class Sharing : int { learnt, always, never };
Sharing sharing() noexcept;
void set_sharing(Sharing way) noexcept;

class ThreadChoice {
public:
    // Smaller calls stay on the calling thread: their time is of the order of the team's
    // own cost to start and join.
    static constexpr npy_intp considered_from = npy_intp{1} << 14;

    // Whether this call of `count` elements is to be shared.
    bool share(npy_intp count) noexcept;
    // What the call took, shared or alone.
    void learn(npy_intp count, bool shared, double seconds) noexcept;

private:
    static constexpr int size_classes = 20;  // 2**14 to 2**33 and beyond, by powers of two
    // How many calls of a size class are timed each way before the faster is kept to, and
    // how often the slower way is timed again, should the machine have changed.
    static constexpr std::uint32_t first_samples = 3;
    static constexpr std::uint32_t looked_at_again = 256;

    struct SizeClass {
        // Nanoseconds per element, each way: alone, shared.
        std::atomic<float> cost[2]{};
        std::atomic<std::uint32_t> samples[2]{};
        std::atomic<std::uint32_t> calls{};
    };
    SizeClass classes_[size_classes];

    static int class_of(npy_intp count) noexcept;
};

}  // namespace tessivec::dispatch
