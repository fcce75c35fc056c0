// The parameter and result types of a runtime function, read off its declaration.
#pragma once

#include <cstddef>
#include <tuple>

namespace tessivec::common {

template <auto Function>
struct RuntimeSignature;

template <class Result, class... Parameters, Result (*Function)(Parameters...)>
struct RuntimeSignature<Function> {
    using result = Result;
    using parameters = std::tuple<Parameters...>;
    static constexpr std::size_t arity = sizeof...(Parameters);
};

}  // namespace tessivec::common
