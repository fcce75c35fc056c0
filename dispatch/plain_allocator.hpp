#pragma once

#include <cstddef>
#include <cstdlib>
#include <deque>
#include <new>
#include <string>
#include <vector>

namespace tessivec::dispatch {

// Containers whose memory comes from malloc. The standard allocator's inline code calls
// a libstdc++ function that exists only since GCC 11's library, which would tie the
// wheel to systems that have that library; malloc ties it to nothing newer.
template <class T>
struct PlainAllocator {
    using value_type = T;

    PlainAllocator() = default;
    template <class U>
    PlainAllocator(const PlainAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
            throw std::bad_alloc();
        }
        void* memory = std::malloc(count * sizeof(T));
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(memory);
    }
    void deallocate(T* memory, std::size_t) noexcept { std::free(memory); }

    template <class U>
    bool operator==(const PlainAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const PlainAllocator<U>&) const noexcept {
        return false;
    }
};

template <class T>
using Vector = std::vector<T, PlainAllocator<T>>;
template <class T>
using Deque = std::deque<T, PlainAllocator<T>>;
using String = std::basic_string<char, std::char_traits<char>, PlainAllocator<char>>;

}  // namespace tessivec::dispatch
