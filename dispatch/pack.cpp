#include "dispatch/pack.hpp"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

#include "bridge/reach.hpp"
#include "dispatch/plain_allocator.hpp"
#include "dispatch/run_driver.hpp"
#include "runtime/runtime_functions.hpp"

namespace tessivec::dispatch {

namespace {

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

class Ref {
public:
    explicit Ref(PyObject* object = nullptr) : object_(object) {}
    ~Ref() { Py_XDECREF(object_); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref& operator=(PyObject* object) {
        Py_XDECREF(object_);
        object_ = object;
        return *this;
    }
    PyObject* get() const { return object_; }
    PyArrayObject* array() const { return reinterpret_cast<PyArrayObject*>(object_); }
    PyObject* release() {
        PyObject* object = object_;
        object_ = nullptr;
        return object;
    }
    explicit operator bool() const { return object_ != nullptr; }

private:
    PyObject* object_;
};

char* data_of(const Ref& array) { return static_cast<char*>(PyArray_DATA(array.array())); }

// `a` as a flat, C-contiguous, aligned array of the first precision it casts to safely.
Ref input_array(const char* function, PyObject* a, const Precision*& chosen) {
    if (PyArray_CheckExact(a)) {
        // An array of one of the precisions' own dtypes takes that precision as it is.
        auto* array = reinterpret_cast<PyArrayObject*>(a);
        const int type = PyArray_DESCR(array)->type_num;
        if (PyArray_ISNBO(PyArray_DESCR(array)->byteorder) && PyArray_IS_C_CONTIGUOUS(array) &&
            PyArray_ISALIGNED(array)) {
            for (const Precision& p : precisions) {
                if (p.type_number == type) {
                    chosen = &p;
                    Py_INCREF(a);
                    return Ref(a);
                }
            }
        }
    }
    Ref given(PyArray_FROM_O(a));
    if (!given) {
        return Ref();
    }
    PyArray_Descr* descr = PyArray_DESCR(given.array());
    for (const Precision& p : precisions) {
        PyArray_Descr* target = PyArray_DescrFromType(p.type_number);
        if (PyArray_CanCastTypeTo(descr, target, NPY_SAFE_CASTING)) {
            chosen = &p;
            // Steals the reference to target.
            return Ref(PyArray_FromAny(given.get(), target, 0, 0,
                                       NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED, nullptr));
        }
        Py_DECREF(target);
    }
    Ref dtype_name(PyObject_Str(reinterpret_cast<PyObject*>(descr)));
    if (dtype_name) {
        PyErr_Format(PyExc_TypeError,
                     "vm.%s does not support dtype %U; it takes float32, float64, complex64, "
                     "complex128",
                     function, dtype_name.get());
    }
    return Ref();
}

bool integer(const char* function, const char* name, PyObject* value, long long least,
             long long& result) {
    if (!PyIndex_Check(value)) {
        PyErr_Format(PyExc_TypeError, "vm.%s: %s must be an integer, not %s", function, name,
                     Py_TYPE(value)->tp_name);
        return false;
    }
    Ref index(PyNumber_Index(value));
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

// A private copy of an integer (or, for a mask, boolean) array, flat in C order, as
// 64-bit values: read once from the caller's memory, then checked and used.
bool private_copy(const char* function, const char* name, PyObject* given, bool is_mask,
                  Vector<npy_int64>& copy) {
    Ref array(PyArray_FROM_O(given));
    if (!array) {
        return false;
    }
    PyArray_Descr* descr = PyArray_DESCR(array.array());
    const char kind = descr->kind;
    const bool integers = kind == 'i' || kind == 'u';
    const npy_intp count = PyArray_SIZE(array.array());
    if (!(integers || (is_mask && kind == 'b')) && !(count == 0 && !is_mask)) {
        Ref dtype_name(PyObject_Str(reinterpret_cast<PyObject*>(descr)));
        if (dtype_name) {
            PyErr_Format(PyExc_TypeError, "vm.%s: %s must hold %s, not %U", function, name,
                         is_mask ? "booleans or integers" : "integers", dtype_name.get());
        }
        return false;
    }
    copy.resize(static_cast<std::size_t>(count));
    if (count == 0) {
        return true;
    }
    auto* source = array.array();
    if (PyArray_IS_C_CONTIGUOUS(source) && PyArray_ISALIGNED(source) &&
        PyArray_ISNBO(descr->byteorder) && kind == 'i' &&
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
    Ref target(PyArray_NewFromDescr(&PyArray_Type, int64, 1, &dimension, nullptr, copy.data(),
                                    NPY_ARRAY_CARRAY, nullptr));
    if (!target) {
        return false;
    }
    return PyArray_CopyAnyInto(target.array(), array.array()) == 0;
}

// The copied positions as the runtime's 32-bit ints, each checked to lie within an array
// of `bound` elements.
bool positions(const char* function, const Vector<npy_int64>& copy, npy_intp bound,
               const char* bound_name, Vector<int>& result) {
    result.resize(copy.size());
    for (std::size_t i = 0; i < copy.size(); ++i) {
        if (copy[i] < 0 || copy[i] >= bound) {
            PyErr_Format(PyExc_ValueError,
                         "vm.%s: index holds positions outside %s, which has %zd elements",
                         function, bound_name, bound);
            return false;
        }
        if (copy[i] > largest_int) {
            PyErr_Format(PyExc_ValueError,
                         "vm.%s: index holds positions past 2**31 - 1, which the runtime's "
                         "32-bit indexes cannot reach",
                         function);
            return false;
        }
        result[i] = static_cast<int>(copy[i]);
    }
    return true;
}

// The copied mask as the runtime's 32-bit ints: 1 where it is non-zero.
Vector<int> mask_entries(const Vector<npy_int64>& copy) {
    Vector<int> result(copy.size());
    for (std::size_t i = 0; i < copy.size(); ++i) {
        result[i] = copy[i] != 0;
    }
    return result;
}

// A new result array of `count` elements, or `out` checked: an ndarray of the
// precision's dtype, writable, C-contiguous and aligned, of `count` elements in one
// dimension (any shape when `count` is negative).
Ref output_array(const char* function, PyObject* out, const Precision& p, npy_intp count) {
    if (out == nullptr || out == Py_None) {
        npy_intp dimension = count;
        return Ref(PyArray_SimpleNew(1, &dimension, p.type_number));
    }
    if (!PyArray_Check(out)) {
        PyErr_Format(PyExc_TypeError, "vm.%s: out must be a numpy.ndarray, not %s", function,
                     Py_TYPE(out)->tp_name);
        return Ref();
    }
    auto* array = reinterpret_cast<PyArrayObject*>(out);
    PyArray_Descr* descr = PyArray_DESCR(array);
    if (descr->type_num != p.type_number || !PyArray_ISNBO(descr->byteorder)) {
        Ref wanted(reinterpret_cast<PyObject*>(PyArray_DescrFromType(p.type_number)));
        Ref have(PyObject_Str(reinterpret_cast<PyObject*>(descr)));
        Ref want(PyObject_Str(wanted.get()));
        if (have && want) {
            PyErr_Format(PyExc_TypeError, "vm.%s: out has dtype %U, the result's dtype is %U",
                         function, have.get(), want.get());
        }
        return Ref();
    }
    if (count >= 0 && (PyArray_NDIM(array) != 1 || PyArray_DIM(array, 0) != count)) {
        Ref shape(PyObject_GetAttrString(out, "shape"));
        if (shape) {
            PyErr_Format(PyExc_ValueError, "vm.%s: out has shape %S, the result's shape is (%zd,)",
                         function, shape.get(), count);
        }
        return Ref();
    }
    if (!PyArray_ISWRITEABLE(array)) {
        PyErr_Format(PyExc_ValueError, "vm.%s: out is read-only", function);
        return Ref();
    }
    if (!PyArray_IS_C_CONTIGUOUS(array) || !PyArray_ISALIGNED(array)) {
        PyErr_Format(PyExc_ValueError, "vm.%s: out is not C-contiguous and aligned", function);
        return Ref();
    }
    Py_INCREF(out);
    return Ref(out);
}

// `a`, copied where its memory overlaps out's: the runtime reads a while writing out.
bool apart_from(Ref& a, const Ref& out) {
    const char* a_start = data_of(a);
    const char* out_start = data_of(out);
    const char* a_end = a_start + PyArray_NBYTES(a.array());
    const char* out_end = out_start + PyArray_NBYTES(out.array());
    if (a_start < out_end && out_start < a_end) {
        a = PyArray_NewCopy(a.array(), NPY_CORDER);
        return static_cast<bool>(a);
    }
    return true;
}

class MaybeReleased {
public:
    explicit MaybeReleased(npy_intp count)
        : state_(count >= release_lock_from ? PyEval_SaveThread() : nullptr) {}
    ~MaybeReleased() {
        if (state_ != nullptr) {
            PyEval_RestoreThread(state_);
        }
    }
    MaybeReleased(const MaybeReleased&) = delete;
    MaybeReleased& operator=(const MaybeReleased&) = delete;

private:
    PyThreadState* state_;
};

// Calls `strip(start, count)` over [0, total) in strips the runtime's int count takes.
template <class Strip>
void in_strips(npy_intp total, Strip strip) {
    const npy_intp limit = run_limit();
    MaybeReleased released(total);
    for (npy_intp start = 0; start < total; start += limit) {
        strip(start, static_cast<int>(std::min(limit, total - start)));
    }
}

npy_intp selected(const Vector<int>& mask, npy_intp start, npy_intp count) {
    return std::count(mask.begin() + start, mask.begin() + start + count, 1);
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

PyObject* packi(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PyObject* out_given;
    long long incr, n;
    const Precision* p = nullptr;
    if (!parse("packi", args, nargs, names, 3, true, out_given)) {
        return nullptr;
    }
    Ref a = input_array("packi", args[0], p);
    if (!a || !integer("packi", "incr", args[1], 1, incr) || !integer("packi", "n", args[2], 0, n)) {
        return nullptr;
    }
    const bridge::Requirement reach = bridge::strided(n, incr);
    if (reach.count > PyArray_SIZE(a.array())) {
        PyErr_Format(PyExc_ValueError, "vm.packi: a has %zd elements; n=%lld at increment %lld reads %lld",
                     PyArray_SIZE(a.array()), n, incr, reach.count);
        return nullptr;
    }
    Ref out = output_array("packi", out_given, *p, static_cast<npy_intp>(n));
    if (!out || !apart_from(a, out)) {
        return nullptr;
    }
    const char* source = data_of(a);
    char* target = data_of(out);
    in_strips(static_cast<npy_intp>(n), [&](npy_intp start, int count) {
        p->pack_increment(count, source + start * incr * static_cast<npy_intp>(p->size),
                          static_cast<int>(incr), target + start * static_cast<npy_intp>(p->size));
    });
    return out.release();
}

PyObject* packv(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PyObject* out_given;
    const Precision* p = nullptr;
    if (!parse("packv", args, nargs, names, 2, true, out_given)) {
        return nullptr;
    }
    Ref a = input_array("packv", args[0], p);
    if (!a) {
        return nullptr;
    }
    Vector<npy_int64> copy;
    Vector<int> index;
    if (!private_copy("packv", "index", args[1], false, copy) ||
        !positions("packv", copy, PyArray_SIZE(a.array()), "a", index)) {
        return nullptr;
    }
    const auto count = static_cast<npy_intp>(index.size());
    // The checked copy reaches no further than a: the runtime's rule says so once more.
    if (bridge::indexed(count, index.data()).count > PyArray_SIZE(a.array())) {
        PyErr_SetString(PyExc_SystemError, "vm.packv: checked positions reach past a");
        return nullptr;
    }
    Ref out = output_array("packv", out_given, *p, count);
    if (!out || !apart_from(a, out)) {
        return nullptr;
    }
    const char* source = data_of(a);
    char* target = data_of(out);
    in_strips(count, [&](npy_intp start, int strip) {
        p->pack_indexes(strip, source, index.data() + start,
                        target + start * static_cast<npy_intp>(p->size));
    });
    return out.release();
}

PyObject* packm(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PyObject* out_given;
    const Precision* p = nullptr;
    if (!parse("packm", args, nargs, names, 2, true, out_given)) {
        return nullptr;
    }
    Ref a = input_array("packm", args[0], p);
    if (!a) {
        return nullptr;
    }
    Vector<npy_int64> copy;
    if (!private_copy("packm", "mask", args[1], true, copy)) {
        return nullptr;
    }
    const npy_intp size = PyArray_SIZE(a.array());
    if (static_cast<npy_intp>(copy.size()) != size) {
        PyErr_Format(PyExc_ValueError, "vm.packm: mask has %zd elements, a has %zd",
                     static_cast<npy_intp>(copy.size()), size);
        return nullptr;
    }
    Vector<int> mask = mask_entries(copy);
    const long long written = bridge::masked(size, mask.data()).count;
    Ref out = output_array("packm", out_given, *p, static_cast<npy_intp>(written));
    if (!out || !apart_from(a, out)) {
        return nullptr;
    }
    const char* source = data_of(a);
    char* target = data_of(out);
    npy_intp done = 0;
    in_strips(size, [&](npy_intp start, int strip) {
        p->pack_mask(strip, source + start * static_cast<npy_intp>(p->size), mask.data() + start,
                     target + done * static_cast<npy_intp>(p->size));
        done += selected(mask, start, strip);
    });
    return out.release();
}

PyObject* unpacki(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PyObject* unused;
    long long incr;
    const Precision* p = nullptr;
    if (!parse("unpacki", args, nargs, names, 3, false, unused)) {
        return nullptr;
    }
    Ref a = input_array("unpacki", args[0], p);
    if (!a || !integer("unpacki", "incr", args[1], 1, incr)) {
        return nullptr;
    }
    Ref out = output_array("unpacki", args[2], *p, -1);
    if (!out) {
        return nullptr;
    }
    const npy_intp count = PyArray_SIZE(a.array());
    const bridge::Requirement reach = bridge::strided(count, incr);
    if (reach.count > PyArray_SIZE(out.array())) {
        PyErr_Format(PyExc_ValueError,
                     "vm.unpacki: out has %zd elements; a's %zd at increment %lld reach %lld",
                     PyArray_SIZE(out.array()), count, incr, reach.count);
        return nullptr;
    }
    if (!apart_from(a, out)) {
        return nullptr;
    }
    const char* source = data_of(a);
    char* target = data_of(out);
    in_strips(count, [&](npy_intp start, int strip) {
        p->unpack_increment(strip, source + start * static_cast<npy_intp>(p->size),
                            target + start * incr * static_cast<npy_intp>(p->size),
                            static_cast<int>(incr));
    });
    return out.release();
}

PyObject* unpackv(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PyObject* unused;
    const Precision* p = nullptr;
    if (!parse("unpackv", args, nargs, names, 3, false, unused)) {
        return nullptr;
    }
    Ref a = input_array("unpackv", args[0], p);
    if (!a) {
        return nullptr;
    }
    Ref out = output_array("unpackv", args[2], *p, -1);
    if (!out) {
        return nullptr;
    }
    Vector<npy_int64> copy;
    Vector<int> index;
    if (!private_copy("unpackv", "index", args[1], false, copy) ||
        !positions("unpackv", copy, PyArray_SIZE(out.array()), "out", index)) {
        return nullptr;
    }
    const npy_intp count = PyArray_SIZE(a.array());
    if (static_cast<npy_intp>(index.size()) != count) {
        PyErr_Format(PyExc_ValueError, "vm.unpackv: index has %zd elements, a has %zd",
                     static_cast<npy_intp>(index.size()), count);
        return nullptr;
    }
    if (bridge::indexed(count, index.data()).count > PyArray_SIZE(out.array())) {
        PyErr_SetString(PyExc_SystemError, "vm.unpackv: checked positions reach past out");
        return nullptr;
    }
    if (!apart_from(a, out)) {
        return nullptr;
    }
    const char* source = data_of(a);
    char* target = data_of(out);
    in_strips(count, [&](npy_intp start, int strip) {
        p->unpack_indexes(strip, source + start * static_cast<npy_intp>(p->size), target,
                          index.data() + start);
    });
    return out.release();
}

PyObject* unpackm(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PyObject* unused;
    const Precision* p = nullptr;
    if (!parse("unpackm", args, nargs, names, 3, false, unused)) {
        return nullptr;
    }
    Ref a = input_array("unpackm", args[0], p);
    if (!a) {
        return nullptr;
    }
    Ref out = output_array("unpackm", args[2], *p, -1);
    if (!out) {
        return nullptr;
    }
    Vector<npy_int64> copy;
    if (!private_copy("unpackm", "mask", args[1], true, copy)) {
        return nullptr;
    }
    const npy_intp size = PyArray_SIZE(out.array());
    if (static_cast<npy_intp>(copy.size()) != size) {
        PyErr_Format(PyExc_ValueError, "vm.unpackm: mask has %zd elements, out has %zd",
                     static_cast<npy_intp>(copy.size()), size);
        return nullptr;
    }
    Vector<int> mask = mask_entries(copy);
    const long long read = bridge::masked(size, mask.data()).count;
    if (read != PyArray_SIZE(a.array())) {
        PyErr_Format(PyExc_ValueError, "vm.unpackm: a has %zd elements, mask selects %lld",
                     PyArray_SIZE(a.array()), read);
        return nullptr;
    }
    if (!apart_from(a, out)) {
        return nullptr;
    }
    const char* source = data_of(a);
    char* target = data_of(out);
    npy_intp done = 0;
    in_strips(size, [&](npy_intp start, int strip) {
        p->unpack_mask(strip, source + done * static_cast<npy_intp>(p->size),
                       target + start * static_cast<npy_intp>(p->size), mask.data() + start);
        done += selected(mask, start, strip);
    });
    return out.release();
}

template <auto Function>
PyCFunction method() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

}  // namespace

PyMethodDef pack_methods[6] = {
    {"packi", method<&packi>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"packv", method<&packv>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"packm", method<&packm>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"unpacki", method<&unpacki>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"unpackv", method<&unpackv>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"unpackm", method<&unpackm>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
};

}  // namespace tessivec::dispatch
