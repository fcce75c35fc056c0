// The arguments of one call of a vm math operation: the positional array and scalar
// arguments, `out` and `mode`, read and checked the way every operation reads them.
#pragma once

#include <array>
#include <cstddef>

#include "dispatch/operation.hpp"

namespace tessivec::dispatch {

inline constexpr std::size_t max_positional = max_arrays + max_scalars;

struct CallArguments {
    std::array<PyObject*, max_positional> positional{};
    PyObject* out = nullptr;  // nullptr when absent or None
    PyObject* mode = nullptr;
};

// The arguments of a vectorcall; a TypeError for a wrong count or an unknown keyword.
bool parse_arguments(const Operation& operation, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, CallArguments& arguments);

// `mode` as the runtime's 32-bit mode; a TypeError or ValueError for anything else.
bool convert_mode(const Operation& operation, PyObject* object, long long& mode);

// The name of the positional argument at `position`, for messages.
PyObject* argument_name(const Operation& operation, std::size_t position);

// The scalar arguments as consecutive values of the loop's type `type`, each
// `size` bytes, at `into`.
bool convert_scalars(const Operation& operation, const CallArguments& arguments, int type,
                     std::size_t size, std::byte* into);

}  // namespace tessivec::dispatch
