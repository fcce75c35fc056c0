#include "dispatch/pack.hpp"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

#include "common/reach.hpp"
#include "common/reference.hpp"
#include "common/released_interpreter.hpp"
#include "dispatch/exception_boundary.hpp"
#include "dispatch/plain_allocator.hpp"
#include "dispatch/run_driver.hpp"
#include "runtime/runtime_functions.hpp"

namespace tessivec::dispatch {

namespace {

using common::Reference;
using common::ReleasedInterpreter;
using runtime::MKL_Complex16;
using runtime::MKL_Complex8;

// The six runtime functions of one precision, taking and giving untyped arrays.
struct Precision {
    int type_number;
    std::size_t size;
    void (*pack_increment)(int n, const void* a, int incr, void* y);
    void (*pack_indexes)(int n, const void* a, int* ia, void* y);
    void (*pack_mask)(int n, const void* a, int* ma, void* y);
    void (*unpack_increment)(int n, const void* a, void* y, int incr);
    void (*unpack_indexes)(int n, const void* a, void* y, int* iy);
    void (*unpack_mask)(int n, const void* a, void* y, int* my);
};

template <class T, void (*PI)(int, const T*, int, T*), void (*PV)(int, const T*, int*, T*),
          void (*PM)(int, const T*, int*, T*), void (*UI)(int, const T*, T*, int),
          void (*UV)(int, const T*, T*, int*), void (*UM)(int, const T*, T*, int*)>
constexpr Precision precision(int type_number) {
    return Precision{
        type_number,
        sizeof(T),
        [](int n, const void* a, int incr, void* y) {
            PI(n, static_cast<const T*>(a), incr, static_cast<T*>(y));
        },
        [](int n, const void* a, int* ia, void* y) {
            PV(n, static_cast<const T*>(a), ia, static_cast<T*>(y));
        },
        [](int n, const void* a, int* ma, void* y) {
            PM(n, static_cast<const T*>(a), ma, static_cast<T*>(y));
        },
        [](int n, const void* a, void* y, int incr) {
            UI(n, static_cast<const T*>(a), static_cast<T*>(y), incr);
        },
        [](int n, const void* a, void* y, int* iy) {
            UV(n, static_cast<const T*>(a), static_cast<T*>(y), iy);
        },
        [](int n, const void* a, void* y, int* my) {
            UM(n, static_cast<const T*>(a), static_cast<T*>(y), my);
        },
    };
}

// In the order s, d, c, z: `a` takes the first its dtype casts to safely.
const Precision precisions[] = {
    precision<float, runtime::vsPackI, runtime::vsPackV, runtime::vsPackM, runtime::vsUnpackI,
              runtime::vsUnpackV, runtime::vsUnpackM>(NPY_FLOAT),
    precision<double, runtime::vdPackI, runtime::vdPackV, runtime::vdPackM, runtime::vdUnpackI,
              runtime::vdUnpackV, runtime::vdUnpackM>(NPY_DOUBLE),
    precision<MKL_Complex8, runtime::vcPackI, runtime::vcPackV, runtime::vcPackM,
              runtime::vcUnpackI, runtime::vcUnpackV, runtime::vcUnpackM>(NPY_CFLOAT),
    precision<MKL_Complex16, runtime::vzPackI, runtime::vzPackV, runtime::vzPackM,
              runtime::vzUnpackI, runtime::vzUnpackV, runtime::vzUnpackM>(NPY_CDOUBLE),
};

constexpr long long largest_int = INT_MAX;
// Fewer elements than this are moved with the interpreter lock held: releasing it costs
// more than the move.
constexpr npy_intp release_lock_from = npy_intp{1} << 14;

PyArrayObject* as_array(const Reference& array) {
    return reinterpret_cast<PyArrayObject*>(array.get());
}

npy_intp size_of(const Reference& array) { return PyArray_SIZE(as_array(array)); }

char* data_of(const Reference& array) { return static_cast<char*>(PyArray_DATA(as_array(array))); }

// `a` as a flat, C-contiguous, aligned array of the first precision it casts to safely.
Reference input_array(const char* function, PyObject* a, const Precision*& chosen) {
    if (PyArray_CheckExact(a)) {
        // An array of one of the precisions' own dtypes takes that precision as it is.
        auto* array = reinterpret_cast<PyArrayObject*>(a);
        const int type = PyArray_DESCR(array)->type_num;
        if (PyArray_ISNBO(PyArray_DESCR(array)->byteorder) && PyArray_IS_C_CONTIGUOUS(array) &&
            PyArray_ISALIGNED(array)) {
            for (const Precision& p : precisions) {
                if (p.type_number == type) {
                    chosen = &p;
                    return Reference::borrowed(a);
                }
            }
        }
    }
    Reference given(PyArray_FROM_O(a));
    if (!given) {
        return Reference();
    }
    PyArray_Descr* descr = PyArray_DESCR(as_array(given));
    for (const Precision& p : precisions) {
        PyArray_Descr* target = PyArray_DescrFromType(p.type_number);
        if (PyArray_CanCastTypeTo(descr, target, NPY_SAFE_CASTING)) {
            chosen = &p;
            // Steals the reference to target.
            return Reference(PyArray_FromAny(given.get(), target, 0, 0,
                                       NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED, nullptr));
        }
        Py_DECREF(target);
    }
    Reference dtype_name(PyObject_Str(reinterpret_cast<PyObject*>(descr)));
    if (dtype_name) {
        PyErr_Format(PyExc_TypeError,
                     "vm.%s does not support dtype %U; it takes float32, float64, complex64, "
                     "complex128",
                     function, dtype_name.get());
    }
    return Reference();
}

bool integer(const char* function, const char* name, PyObject* value, long long least,
             long long& result) {
    if (!PyIndex_Check(value)) {
        PyErr_Format(PyExc_TypeError, "vm.%s: %s must be an integer, not %s", function, name,
                     Py_TYPE(value)->tp_name);
        return false;
    }
    Reference index(PyNumber_Index(value));
    if (!index) {
        return false;
    }
    int overflow = 0;
    result = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (result == -1 && PyErr_Occurred()) {
        return false;
    }
    if (overflow != 0 || result < least || result > largest_int) {
        PyErr_Format(PyExc_ValueError, "vm.%s: %s must be from %lld to 2**31 - 1, not %S",
                     function, name, least, index.get());
        return false;
    }
    return true;
}

// An integer (or, for a mask, boolean) array as NumPy takes it, its values not yet
// read: a list becomes an array, an array stays as it is, a broadcast view is not
// expanded, so that its size can be checked before anything of that size is allocated.
Reference integer_array(const char* function, const char* name, PyObject* given,
                        bool is_mask) {
    Reference array(PyArray_FROM_O(given));
    if (!array) {
        return array;
    }
    PyArray_Descr* descr = PyArray_DESCR(as_array(array));
    const char kind = descr->kind;
    const bool integers = kind == 'i' || kind == 'u';
    if (!(integers || (is_mask && kind == 'b')) && !(size_of(array) == 0 && !is_mask)) {
        Reference dtype_name(PyObject_Str(reinterpret_cast<PyObject*>(descr)));
        if (dtype_name) {
            PyErr_Format(PyExc_TypeError, "vm.%s: %s must hold %s, not %U", function, name,
                         is_mask ? "booleans or integers" : "integers", dtype_name.get());
        }
        return Reference();
    }
    return array;
}

// A private copy of an integer array, flat in C order, as 64-bit values: read once
// from the caller's memory, then checked and used.
bool private_copy(const Reference& array, Vector<npy_int64>& copy) {
    const npy_intp count = size_of(array);
    copy.resize(static_cast<std::size_t>(count));
    if (count == 0) {
        return true;
    }
    auto* source = as_array(array);
    PyArray_Descr* descr = PyArray_DESCR(source);
    if (PyArray_IS_C_CONTIGUOUS(source) && PyArray_ISALIGNED(source) &&
        PyArray_ISNBO(descr->byteorder) && descr->kind == 'i' &&
        (descr->elsize == 8 || descr->elsize == 4)) {
        // The common cases, int64 and int32, without NumPy's general cast machinery.
        if (descr->elsize == 8) {
            std::memcpy(copy.data(), PyArray_DATA(source), static_cast<std::size_t>(count) * 8);
        } else {
            const auto* values = static_cast<const npy_int32*>(PyArray_DATA(source));
            std::copy(values, values + count, copy.begin());
        }
        return true;
    }
    // A uint64 position past the int64 range wraps to a negative one, which is refused.
    PyArray_Descr* int64 = PyArray_DescrFromType(NPY_INT64);
    npy_intp dimension = count;
    Reference target(PyArray_NewFromDescr(&PyArray_Type, int64, 1, &dimension, nullptr, copy.data(),
                                    NPY_ARRAY_CARRAY, nullptr));
    if (!target) {
        return false;
    }
    return PyArray_CopyAnyInto(as_array(target), source) == 0;
}

// The copied positions as the runtime's 32-bit ints, checked by the runtime's reach rule
// for an index array to lie within an array of `bound` elements.
bool positions(const char* function, const Vector<npy_int64>& copy, npy_intp bound,
               const char* bound_name, Vector<int>& result) {
    const common::Requirement reach =
        common::indexed(static_cast<long long>(copy.size()), copy.data());
    if (reach.kind == common::Requirement::before_start || reach.count > bound) {
        PyErr_Format(PyExc_ValueError,
                     "vm.%s: index holds positions outside %s, which has %zd elements",
                     function, bound_name, bound);
        return false;
    }
    if (reach.count - 1 > largest_int) {
        PyErr_Format(PyExc_ValueError,
                     "vm.%s: index holds positions past 2**31 - 1, which the runtime's "
                     "32-bit indexes cannot reach",
                     function);
        return false;
    }
    result.resize(copy.size());
    std::transform(copy.begin(), copy.end(), result.begin(),
                   [](npy_int64 position) { return static_cast<int>(position); });
    return true;
}

// A private copy of the mask, one entry per element of `array_name`, which has `size`,
// as the runtime's 32-bit ints: 1 where it is non-zero. A mask of another size is
// refused before it is copied.
bool mask_entries(const char* function, PyObject* given, npy_intp size,
                  const char* array_name, Vector<int>& mask) {
    Reference array = integer_array(function, "mask", given, true);
    if (!array) {
        return false;
    }
    if (size_of(array) != size) {
        PyErr_Format(PyExc_ValueError, "vm.%s: mask has %zd elements, %s has %zd", function,
                     size_of(array), array_name, size);
        return false;
    }
    Vector<npy_int64> copy;
    if (!private_copy(array, copy)) {
        return false;
    }
    mask.resize(copy.size());
    std::transform(copy.begin(), copy.end(), mask.begin(),
                   [](npy_int64 entry) { return entry != 0 ? 1 : 0; });
    return true;
}

// A new result array of `count` elements, or `out` checked: an ndarray of the
// precision's dtype, writable, C-contiguous and aligned, of `count` elements in one
// dimension (any shape when `count` is negative).
Reference output_array(const char* function, PyObject* out, const Precision& p, npy_intp count) {
    if (out == nullptr || out == Py_None) {
        npy_intp dimension = count;
        return Reference(PyArray_SimpleNew(1, &dimension, p.type_number));
    }
    if (!PyArray_Check(out)) {
        PyErr_Format(PyExc_TypeError, "vm.%s: out must be a numpy.ndarray, not %s", function,
                     Py_TYPE(out)->tp_name);
        return Reference();
    }
    auto* array = reinterpret_cast<PyArrayObject*>(out);
    PyArray_Descr* descr = PyArray_DESCR(array);
    if (descr->type_num != p.type_number || !PyArray_ISNBO(descr->byteorder)) {
        Reference wanted(reinterpret_cast<PyObject*>(PyArray_DescrFromType(p.type_number)));
        Reference have(PyObject_Str(reinterpret_cast<PyObject*>(descr)));
        Reference want(PyObject_Str(wanted.get()));
        if (have && want) {
            PyErr_Format(PyExc_TypeError, "vm.%s: out has dtype %U, the result's dtype is %U",
                         function, have.get(), want.get());
        }
        return Reference();
    }
    if (count >= 0 && (PyArray_NDIM(array) != 1 || PyArray_DIM(array, 0) != count)) {
        Reference shape(PyObject_GetAttrString(out, "shape"));
        if (shape) {
            PyErr_Format(PyExc_ValueError, "vm.%s: out has shape %S, the result's shape is (%zd,)",
                         function, shape.get(), count);
        }
        return Reference();
    }
    if (!PyArray_ISWRITEABLE(array)) {
        PyErr_Format(PyExc_ValueError, "vm.%s: out is read-only", function);
        return Reference();
    }
    if (!PyArray_IS_C_CONTIGUOUS(array) || !PyArray_ISALIGNED(array)) {
        PyErr_Format(PyExc_ValueError, "vm.%s: out is not C-contiguous and aligned", function);
        return Reference();
    }
    return Reference::borrowed(out);
}

// `a`, copied where its memory overlaps out's: the runtime reads a while writing out.
bool apart_from(Reference& a, const Reference& out) {
    const char* a_start = data_of(a);
    const char* out_start = data_of(out);
    const char* a_end = a_start + PyArray_NBYTES(as_array(a));
    const char* out_end = out_start + PyArray_NBYTES(as_array(out));
    if (a_start < out_end && out_start < a_end) {
        a.reset(PyArray_NewCopy(as_array(a), NPY_CORDER));
        return static_cast<bool>(a);
    }
    return true;
}

// Positional arguments, then the keyword-only `out` when `takes_out`.
bool parse(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* names,
           Py_ssize_t positional, bool takes_out, PyObject*& out) {
    out = nullptr;
    if (nargs != positional) {
        PyErr_Format(PyExc_TypeError, "vm.%s() takes %zd positional arguments (%zd given)",
                     function, positional, nargs);
        return false;
    }
    const Py_ssize_t keywords = names != nullptr ? PyTuple_GET_SIZE(names) : 0;
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        PyObject* name = PyTuple_GET_ITEM(names, i);
        if (!takes_out || PyUnicode_CompareWithASCIIString(name, "out") != 0) {
            PyErr_Format(PyExc_TypeError, "vm.%s() got an unexpected keyword argument '%U'",
                         function, name);
            return false;
        }
        out = args[nargs + i];
    }
    return true;
}

// One gather or scatter: `a` in the first precision it casts to safely, and `out` (a
// gather's keyword-only result array, a scatter's third argument), checked once the
// number of elements it must hold is known.
class Call {
public:
    explicit Call(const char* function) : function_(function) {}

    // A gather takes `positional` arguments and `out` by keyword; a scatter takes a, its
    // increment, index or mask, and out.
    bool begin(PyObject* const* args, Py_ssize_t nargs, PyObject* names,
               Py_ssize_t positional, bool gather);

    // `out` as the result of `count` elements, or of any shape when `count` is negative.
    bool take_out(npy_intp count);

    // `strip(source, target, start, count, element_size)` over [0, total) in strips the
    // runtime's int count takes, with the lock released where the move is worth it; a
    // is copied first where it overlaps out. Returns out.
    template <class Strip>
    PyObject* run(npy_intp total, Strip strip) {
        if (!apart_from(a_, out_)) {
            return nullptr;
        }
        const char* source = data_of(a_);
        char* target = data_of(out_);
        const auto element_size = static_cast<npy_intp>(precision_->size);
        const npy_intp limit = run_limit();
        {
            ReleasedInterpreter released(total >= release_lock_from);
            for (npy_intp start = 0; start < total; start += limit) {
                strip(source, target, start, static_cast<int>(std::min(limit, total - start)),
                      element_size);
            }
        }
        return out_.release();
    }

    const Precision& precision() const { return *precision_; }
    npy_intp a_size() const { return size_of(a_); }
    npy_intp out_size() const { return size_of(out_); }

private:
    const char* function_;
    PyObject* out_given_ = nullptr;
    const Precision* precision_ = nullptr;
    Reference a_;
    Reference out_;
};

bool Call::begin(PyObject* const* args, Py_ssize_t nargs, PyObject* names,
                 Py_ssize_t positional, bool gather) {
    if (!parse(function_, args, nargs, names, positional, gather, out_given_)) {
        return false;
    }
    if (!gather) {
        out_given_ = args[2];
    }
    a_ = input_array(function_, args[0], precision_);
    return static_cast<bool>(a_);
}

bool Call::take_out(npy_intp count) {
    out_ = output_array(function_, out_given_, *precision_, count);
    return static_cast<bool>(out_);
}

PyObject* packi(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    Call call("packi");
    long long incr, n;
    if (!call.begin(args, nargs, names, 3, true) || !integer("packi", "incr", args[1], 1, incr) ||
        !integer("packi", "n", args[2], 0, n)) {
        return nullptr;
    }
    const common::Requirement reach = common::strided(n, incr);
    if (reach.count > call.a_size()) {
        PyErr_Format(PyExc_ValueError, "vm.packi: a has %zd elements; n=%lld at increment %lld reads %lld",
                     call.a_size(), n, incr, reach.count);
        return nullptr;
    }
    if (!call.take_out(static_cast<npy_intp>(n))) {
        return nullptr;
    }
    const Precision& p = call.precision();
    return call.run(static_cast<npy_intp>(n), [&](const char* source, char* target,
                                                  npy_intp start, int count, npy_intp size) {
        p.pack_increment(count, source + start * incr * size, static_cast<int>(incr),
                         target + start * size);
    });
}

PyObject* packv(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    Call call("packv");
    Reference given;
    Vector<npy_int64> copy;
    Vector<int> index;
    // The result, one element per index, is allocated before the index is copied: an
    // index too long for memory fails there, with MemoryError.
    if (!call.begin(args, nargs, names, 2, true) ||
        !(given = integer_array("packv", "index", args[1], false)) ||
        !call.take_out(size_of(given)) || !private_copy(given, copy) ||
        !positions("packv", copy, call.a_size(), "a", index)) {
        return nullptr;
    }
    const Precision& p = call.precision();
    return call.run(static_cast<npy_intp>(index.size()),
                    [&](const char* source, char* target, npy_intp start, int count,
                        npy_intp size) {
                        p.pack_indexes(count, source, index.data() + start, target + start * size);
                    });
}

PyObject* packm(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    Call call("packm");
    Vector<int> mask;
    if (!call.begin(args, nargs, names, 2, true) ||
        !mask_entries("packm", args[1], call.a_size(), "a", mask)) {
        return nullptr;
    }
    const npy_intp size = call.a_size();
    if (!call.take_out(static_cast<npy_intp>(common::masked(size, mask.data()).count))) {
        return nullptr;
    }
    const Precision& p = call.precision();
    npy_intp done = 0;
    return call.run(size, [&](const char* source, char* target, npy_intp start, int count,
                              npy_intp element_size) {
        p.pack_mask(count, source + start * element_size, mask.data() + start,
                    target + done * element_size);
        done += common::masked(count, mask.data() + start).count;
    });
}

PyObject* unpacki(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    Call call("unpacki");
    long long incr;
    if (!call.begin(args, nargs, names, 3, false) ||
        !integer("unpacki", "incr", args[1], 1, incr) || !call.take_out(-1)) {
        return nullptr;
    }
    const npy_intp count = call.a_size();
    const common::Requirement reach = common::strided(count, incr);
    if (reach.count > call.out_size()) {
        PyErr_Format(PyExc_ValueError,
                     "vm.unpacki: out has %zd elements; a's %zd at increment %lld reach %lld",
                     call.out_size(), count, incr, reach.count);
        return nullptr;
    }
    const Precision& p = call.precision();
    return call.run(count, [&](const char* source, char* target, npy_intp start, int strip,
                               npy_intp size) {
        p.unpack_increment(strip, source + start * size, target + start * incr * size,
                           static_cast<int>(incr));
    });
}

PyObject* unpackv(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    Call call("unpackv");
    Reference given;
    if (!call.begin(args, nargs, names, 3, false) || !call.take_out(-1) ||
        !(given = integer_array("unpackv", "index", args[1], false))) {
        return nullptr;
    }
    const npy_intp count = call.a_size();
    if (size_of(given) != count) {
        PyErr_Format(PyExc_ValueError, "vm.unpackv: index has %zd elements, a has %zd",
                     size_of(given), count);
        return nullptr;
    }
    Vector<npy_int64> copy;
    Vector<int> index;
    if (!private_copy(given, copy) || !positions("unpackv", copy, call.out_size(), "out", index)) {
        return nullptr;
    }
    const Precision& p = call.precision();
    return call.run(count, [&](const char* source, char* target, npy_intp start, int strip,
                               npy_intp size) {
        p.unpack_indexes(strip, source + start * size, target, index.data() + start);
    });
}

PyObject* unpackm(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    Call call("unpackm");
    Vector<int> mask;
    if (!call.begin(args, nargs, names, 3, false) || !call.take_out(-1) ||
        !mask_entries("unpackm", args[1], call.out_size(), "out", mask)) {
        return nullptr;
    }
    const npy_intp size = call.out_size();
    const long long read = common::masked(size, mask.data()).count;
    if (read != call.a_size()) {
        PyErr_Format(PyExc_ValueError, "vm.unpackm: a has %zd elements, mask selects %lld",
                     call.a_size(), read);
        return nullptr;
    }
    const Precision& p = call.precision();
    npy_intp done = 0;
    return call.run(size, [&](const char* source, char* target, npy_intp start, int strip,
                              npy_intp element_size) {
        p.unpack_mask(strip, source + done * element_size, target + start * element_size,
                      mask.data() + start);
        done += common::masked(strip, mask.data() + start).count;
    });
}

}  // namespace

PyMethodDef pack_methods[6] = {
    {"packi", python_method<&packi>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"packv", python_method<&packv>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"packm", python_method<&packm>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"unpacki", python_method<&unpacki>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"unpackv", python_method<&unpackv>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"unpackm", python_method<&unpackm>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
};

}  // namespace tessivec::dispatch
