// A string literal usable as a template argument: the name a wrapper reports.
#pragma once

#include <cstddef>

namespace tessivec::bridge {

template <std::size_t Size>
struct FixedString {
    char text[Size];

    constexpr FixedString(const char (&literal)[Size]) {  // NOLINT: implicit by design
        for (std::size_t i = 0; i < Size; ++i) {
            text[i] = literal[i];
        }
    }
};

}  // namespace tessivec::bridge
