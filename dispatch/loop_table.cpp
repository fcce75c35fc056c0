#include "dispatch/loop_table.hpp"

namespace tessivec::dispatch {

namespace {

#include "dispatch/loop_table.inc"

}  // namespace

std::span<const Loop> loops_of(std::string_view name) {
    for (const OperationLoops& operation : operation_loops) {
        if (name == operation.name) {
            return operation.loops;
        }
    }
    return {};
}

}  // namespace tessivec::dispatch
