// The direct-call entry of a function: the runtime function's own signature, for
// native callers that hold native values; it forwards them unchanged.
#pragma once

namespace tessivec::bridge {

template <auto Function>
struct DirectCall;

template <class Result, class... Parameters, Result (*Function)(Parameters...)>
struct DirectCall<Function> {
    static Result call(Parameters... arguments) { return Function(arguments...); }
};

}  // namespace tessivec::bridge
