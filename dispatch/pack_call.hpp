// What vm's gather and scatter functions share: their signatures and the runtime's
// functions of each precision (generated from the catalogue, dispatch/tables.py), the
// one parser of their arguments, and the conversions of each argument by its role: `a`
// in the first precision it casts to safely, an increment or count as an int, an index
// array or mask copied privately and checked before the runtime reads the copy, and
// `out` made or checked once the number of elements it must hold is known.
#pragma once

#include <cstddef>

#include "common/reference.hpp"
#include "common/released_interpreter.hpp"
#include "common/roles.hpp"
#include "dispatch/numpy_api.hpp"
#include "dispatch/plain_allocator.hpp"
#include "dispatch/run_driver.hpp"

namespace tessivec::dispatch {

using common::Role;

struct PackParameter {
    const char* name;
    Role role;
};

// A gather or scatter function as vm offers it: its parameters, positional ones first,
// then keyword-only ones, and its docstring.
struct PackSignature {
    const char* name;
    const PackParameter* parameters;
    std::size_t positional;
    std::size_t count;
    const char* doc;
};

// The runtime's six functions of one precision, taking and giving untyped arrays.
struct PackPrecision {
    int type_number;
    std::size_t size;
    void (*pack_increment)(int n, const void* a, int incr, void* y);
    void (*pack_indexes)(int n, const void* a, int* ia, void* y);
    void (*pack_mask)(int n, const void* a, int* ma, void* y);
    void (*unpack_increment)(int n, const void* a, void* y, int incr);
    void (*unpack_indexes)(int n, const void* a, void* y, int* iy);
    void (*unpack_mask)(int n, const void* a, void* y, int* my);
};

// The signature of the function of that name; null for none.
const PackSignature* pack_signature(const char* name);

// One call of a gather or scatter function.
class PackCall {
public:
    explicit PackCall(const char* name);

    // Takes the arguments by the signature, and `a`; false with an exception set.
    bool begin(PyObject* const* args, Py_ssize_t nargs, PyObject* names);

    // The argument of that role, as given; null for a keyword-only one not given.
    PyObject* argument(Role role) const;
    // The increment or count, from `least` to 2**31 - 1.
    bool integer(Role role, long long least, long long& value) const;
    // A private copy of the index array, as the runtime's ints, checked to lie within
    // the `bound` elements of the array named `bound_name`.
    bool positions(npy_intp bound, const char* bound_name, Vector<int>& index) const;
    // The index array's number of entries, before it is copied; -1 with an exception set.
    npy_intp index_size();
    // A private copy of the mask, one entry per element of the array named `array_name`,
    // which has `size`, as the runtime's ints: 1 where it is non-zero.
    bool mask(npy_intp size, const char* array_name, Vector<int>& entries) const;

    // `out` as the result of `count` elements, or of any shape when `count` is negative.
    bool take_out(npy_intp count);

    // `each_run(source, target, start, count, element_size)` over [0, total) in runs of
    // at most run_limit() elements, which the runtime's int count takes, with the lock released where the move is worth it; a
    // is copied first where it overlaps out. Returns out.
    template <class Run>
    PyObject* run(npy_intp total, Run each_run) {
        if (!copy_a_apart_from_out()) {
            return nullptr;
        }
        const char* source = a_data();
        char* target = out_data();
        const auto element_size = static_cast<npy_intp>(precision_->size);
        const npy_intp limit = run_limit();
        {
            common::ReleasedInterpreter released(total >= release_lock_from);
            for (npy_intp start = 0; start < total; start += limit) {
                each_run(source, target, start,
                         static_cast<int>(std::min(limit, total - start)), element_size);
            }
        }
        return out_.release();
    }

    const char* name() const { return signature_->name; }
    const PackPrecision& precision() const { return *precision_; }
    npy_intp a_size() const;
    npy_intp out_size() const;

private:
    // Fewer elements than this are moved with the interpreter lock held: releasing it
    // costs more than the move.
    static constexpr npy_intp release_lock_from = npy_intp{1} << 14;

    bool copy_a_apart_from_out();
    const char* a_data() const;
    char* out_data() const;

    const PackSignature* signature_;
    PyObject* given_[4] = {};
    const PackPrecision* precision_ = nullptr;
    common::Reference a_;
    common::Reference index_;
    common::Reference out_;
};

}  // namespace tessivec::dispatch
