// The parameter types of a runtime function, read off its declaration.
#pragma once

#include <tuple>

namespace tessivec::common {

template <auto Function>
struct RuntimeSignature;

template <class Result, class... Parameters, Result (*Function)(Parameters...)>
struct RuntimeSignature<Function> {
    using parameters = std::tuple<Parameters...>;
};

}  // namespace tessivec::common
