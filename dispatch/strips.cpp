#include "dispatch/strips.hpp"

#include <algorithm>
#include <limits>

#include "dispatch/error_status.hpp"

namespace tessivec::dispatch {

namespace {

npy_intp largest_strip = std::numeric_limits<int>::max();

char* data_of(const Reference& array) {
    return static_cast<char*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

class ReleasedInterpreter {
public:
    ReleasedInterpreter() : thread_state_(PyEval_SaveThread()) {}
    ~ReleasedInterpreter() { PyEval_RestoreThread(thread_state_); }
    ReleasedInterpreter(const ReleasedInterpreter&) = delete;
    ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

private:
    PyThreadState* thread_state_;
};

}  // namespace

npy_intp strip_limit() { return largest_strip; }

void set_strip_limit(npy_intp elements) {
    largest_strip = std::clamp<npy_intp>(elements, 1, std::numeric_limits<int>::max());
}

bool run_strips(const Loop& loop, const long long* mode, std::span<const Reference> inputs,
                std::span<const Reference> outputs, const std::byte* scalars, npy_intp size,
                PyObject* function_name) {
    if (size == 0) {
        return true;
    }
    Strip strip;
    strip.scalars = scalars;
    strip.mode = mode != nullptr ? *mode : 0;
    void (*const call)(const Strip&) = mode != nullptr ? loop.with_mode : loop.plain;
    const npy_intp limit = largest_strip;
    StatusWatch watch;
    {
        ReleasedInterpreter released;
        for (npy_intp done = 0; done < size; done += strip.count) {
            strip.count = static_cast<int>(std::min(limit, size - done));
            for (std::size_t i = 0; i < loop.arrays; ++i) {
                strip.inputs[i] = data_of(inputs[i]) + done * loop.input_size;
            }
            for (std::size_t i = 0; i < loop.outputs; ++i) {
                strip.outputs[i] = data_of(outputs[i]) + done * loop.output_size;
            }
            call(strip);
            watch.after_strip();
        }
    }
    return report_conditions(watch, function_name,
                             mode != nullptr ? loop.mode_name : loop.plain_name);
}

}  // namespace tessivec::dispatch
