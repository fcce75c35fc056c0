// Zeroed memory into which the backend converts a list or tuple argument for the
// duration of one call. Small areas come from the wrapper's own stack; larger ones
// from the heap, so that a long list cannot overflow the stack. Everything is
// released when the wrapper returns, on every path.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tessivec::bridge {

template <std::size_t MaxAreas>
class ScratchAreas {
public:
    // The largest area taken from the stack, as the backend's own generated code does.
    static constexpr std::size_t stack_area_limit = 640;

    ScratchAreas() = default;
    ScratchAreas(const ScratchAreas&) = delete;
    ScratchAreas& operator=(const ScratchAreas&) = delete;

    ~ScratchAreas() {
        for (std::size_t i = 0; i < heap_count_; ++i) {
            std::free(heap_areas_[i]);
        }
    }

    // A zero-filled area of `size` bytes, aligned for every element type, or nullptr
    // with MemoryError set.
    std::byte* take(std::size_t size) {
        std::size_t start = (stack_used_ + alignment - 1) / alignment * alignment;
        if (size <= stack_area_limit && start + size <= sizeof(stack_)) {
            stack_used_ = start + size;
            std::memset(stack_ + start, 0, size);
            return stack_ + start;
        }
        void* area = heap_count_ < MaxAreas ? std::calloc(1, size) : nullptr;
        if (area == nullptr) {
            PyErr_NoMemory();
            return nullptr;
        }
        heap_areas_[heap_count_++] = area;
        return static_cast<std::byte*>(area);
    }

private:
    static constexpr std::size_t alignment = alignof(std::max_align_t);

    alignas(std::max_align_t) std::byte stack_[2 * stack_area_limit];
    std::size_t stack_used_ = 0;
    void* heap_areas_[MaxAreas == 0 ? 1 : MaxAreas];
    std::size_t heap_count_ = 0;
};

}  // namespace tessivec::bridge
