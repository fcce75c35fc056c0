#include "dispatch/condition_record.hpp"

#include <array>
#include <cfenv>
#include <cmath>
#include <thread>
#include <utility>

#include "dispatch/mode_values.hpp"

namespace tessivec::dispatch {

namespace {

using namespace mode_values;

// As many calls as may collect at once, each from one Python thread: far more than any
// process runs vm calls side by side. A call that finds none free waits for one.
constexpr std::size_t slot_count = 256;

std::array<std::atomic<ConditionRecord*>, slot_count> slot_records{};

template <std::size_t Slot>
int collect(runtime::DefVmlErrorContext* context) {
    ConditionRecord* record = slot_records[Slot].load(std::memory_order_acquire);
    if (record != nullptr) {
        record->add(flag_of_element(context->iCode, context->dbR1));
    }
    return 0;  // the result stays as the runtime computed it
}

template <std::size_t... Slots>
constexpr std::array<runtime::VMLErrorCallBack, sizeof...(Slots)> collectors(
    std::index_sequence<Slots...>) {
    return {&collect<Slots>...};
}

constexpr auto slot_callbacks = collectors(std::make_index_sequence<slot_count>{});

}  // namespace

int flag_of_status(int status) {
    switch (status) {
        case STATUS_ERRDOM:
            return FE_INVALID;
        case STATUS_SING:
            return FE_DIVBYZERO;
        case STATUS_OVERFLOW:
            return FE_OVERFLOW;
        case STATUS_UNDERFLOW:
            return FE_UNDERFLOW;
        default:
            return 0;
    }
}

int flag_of_element(int status, double result) {
    // Rounded to nearest, an overflowing result is an infinity: an overflow the runtime
    // reports with a finite result is none (its float32 i0 reports one from |a| of
    // about 16 on), and calls that look again only at results that are not normal
    // numbers never see it.
    if (status == STATUS_OVERFLOW && std::isfinite(result)) {
        return 0;
    }
    if (status == STATUS_ERRDOM || status == STATUS_SING) {
        if (std::isnan(result)) {
            return FE_INVALID;
        }
        if (std::isinf(result)) {
            return FE_DIVBYZERO;
        }
    }
    return flag_of_status(status);
}

CollectingCallback::CollectingCallback(ConditionRecord& record) {
    for (;;) {
        for (std::size_t slot = 0; slot < slot_count; ++slot) {
            ConditionRecord* free = nullptr;
            if (slot_records[slot].compare_exchange_strong(free, &record,
                                                           std::memory_order_acq_rel)) {
                slot_ = slot;
                function_ = slot_callbacks[slot];
                return;
            }
        }
        std::this_thread::yield();
    }
}

CollectingCallback::~CollectingCallback() {
    slot_records[slot_].store(nullptr, std::memory_order_release);
}

}  // namespace tessivec::dispatch
