#include "dispatch/pack_call.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <string_view>

#include "common/reach.hpp"
#include "dispatch/element_types.hpp"
#include "runtime/runtime_gather_scatter.hpp"

namespace tessivec::dispatch {

namespace {

using common::Reference;

template <class T, void (*PI)(int, const T*, int, T*), void (*PV)(int, const T*, int*, T*),
          void (*PM)(int, const T*, int*, T*), void (*UI)(int, const T*, T*, int),
          void (*UV)(int, const T*, T*, int*), void (*UM)(int, const T*, T*, int*)>
constexpr PackPrecision pack_precision() {
    return PackPrecision{
        ElementType<T>::type_number,
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

#include "dispatch/pack_table.inc"

constexpr long long largest_int = INT_MAX;

PyArrayObject* as_array(const Reference& array) {
    return reinterpret_cast<PyArrayObject*>(array.get());
}

npy_intp size_of(const Reference& array) { return PyArray_SIZE(as_array(array)); }

char* data_of(const Reference& array) { return static_cast<char*>(PyArray_DATA(as_array(array))); }

// `a` as a flat, C-contiguous, aligned array of the first precision it casts to safely.
Reference input_array(const char* function, PyObject* a, const PackPrecision*& chosen) {
    if (PyArray_CheckExact(a)) {
        // An array of one of the precisions' own dtypes takes that precision as it is.
        auto* array = reinterpret_cast<PyArrayObject*>(a);
        const int type = PyArray_DESCR(array)->type_num;
        if (PyArray_ISNBO(PyArray_DESCR(array)->byteorder) && PyArray_IS_C_CONTIGUOUS(array) &&
            PyArray_ISALIGNED(array)) {
            for (const PackPrecision& p : pack_precisions) {
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
    for (const PackPrecision& p : pack_precisions) {
        PyArray_Descr* target = PyArray_DescrFromType(p.type_number);
        if (PyArray_CanCastTypeTo(descr, target, NPY_SAFE_CASTING)) {
            chosen = &p;
            // Steals the reference to target.
            return Reference(PyArray_FromAny(given.get(), target, 0, 0,
                                             NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED,
                                             nullptr));
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
    Reference target(PyArray_NewFromDescr(&PyArray_Type, int64, 1, &dimension, nullptr,
                                          copy.data(), NPY_ARRAY_CARRAY, nullptr));
    if (!target) {
        return false;
    }
    return PyArray_CopyAnyInto(as_array(target), source) == 0;
}

// A new result array of `count` elements, or `out` checked: an ndarray of the
// precision's dtype, writable, C-contiguous and aligned, of `count` elements in one
// dimension (any shape when `count` is negative).
Reference output_array(const char* function, PyObject* out, const PackPrecision& p,
                       npy_intp count) {
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
            PyErr_Format(PyExc_ValueError,
                         "vm.%s: out has shape %S, the result's shape is (%zd,)", function,
                         shape.get(), count);
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

}  // namespace

const PackSignature* pack_signature(const char* name) {
    for (const PackSignature& signature : pack_signatures) {
        if (std::string_view(signature.name) == name) {
            return &signature;
        }
    }
    return nullptr;
}

PackCall::PackCall(const char* name) : signature_(pack_signature(name)) {}

// Positional arguments as many as the signature has, then its keyword-only ones by name.
bool PackCall::begin(PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    const PackSignature& signature = *signature_;
    const auto positional = static_cast<Py_ssize_t>(signature.positional);
    if (nargs != positional) {
        PyErr_Format(PyExc_TypeError, "vm.%s() takes %zd positional arguments (%zd given)",
                     signature.name, positional, nargs);
        return false;
    }
    std::copy(args, args + nargs, given_);
    const Py_ssize_t keywords = names != nullptr ? PyTuple_GET_SIZE(names) : 0;
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        PyObject* name = PyTuple_GET_ITEM(names, i);
        std::size_t k = signature.positional;
        while (k < signature.count &&
               PyUnicode_CompareWithASCIIString(name, signature.parameters[k].name) != 0) {
            ++k;
        }
        if (k == signature.count) {
            PyErr_Format(PyExc_TypeError, "vm.%s() got an unexpected keyword argument '%U'",
                         signature.name, name);
            return false;
        }
        given_[k] = args[nargs + i];
    }
    a_ = input_array(signature.name, argument(Role::input), precision_);
    return static_cast<bool>(a_);
}

PyObject* PackCall::argument(Role role) const {
    for (std::size_t k = 0; k < signature_->count; ++k) {
        if (signature_->parameters[k].role == role) {
            return given_[k];
        }
    }
    return nullptr;
}

const char* parameter_name(const PackSignature& signature, Role role) {
    for (std::size_t k = 0; k < signature.count; ++k) {
        if (signature.parameters[k].role == role) {
            return signature.parameters[k].name;
        }
    }
    return "";
}

bool PackCall::integer(Role role, long long least, long long& value) const {
    const char* name = parameter_name(*signature_, role);
    PyObject* given = argument(role);
    if (!PyIndex_Check(given)) {
        PyErr_Format(PyExc_TypeError, "vm.%s: %s must be an integer, not %s", signature_->name,
                     name, Py_TYPE(given)->tp_name);
        return false;
    }
    Reference index(PyNumber_Index(given));
    if (!index) {
        return false;
    }
    int overflow = 0;
    value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) {
        return false;
    }
    if (overflow != 0 || value < least || value > largest_int) {
        PyErr_Format(PyExc_ValueError, "vm.%s: %s must be from %lld to 2**31 - 1, not %S",
                     signature_->name, name, least, index.get());
        return false;
    }
    return true;
}

npy_intp PackCall::index_size() {
    if (!index_) {
        index_ = integer_array(signature_->name, parameter_name(*signature_, Role::indexes),
                               argument(Role::indexes), false);
    }
    return index_ ? size_of(index_) : -1;
}

bool PackCall::positions(npy_intp bound, const char* bound_name, Vector<int>& index) const {
    Vector<npy_int64> copy;
    if (!private_copy(index_, copy)) {
        return false;
    }
    const common::Requirement reach =
        common::indexed(static_cast<long long>(copy.size()), copy.data());
    if (reach.kind == common::Requirement::before_start || reach.count > bound) {
        PyErr_Format(PyExc_ValueError,
                     "vm.%s: index holds positions outside %s, which has %zd elements",
                     signature_->name, bound_name, bound);
        return false;
    }
    if (reach.count - 1 > largest_int) {
        PyErr_Format(PyExc_ValueError,
                     "vm.%s: index holds positions past 2**31 - 1, which the runtime's "
                     "32-bit indexes cannot reach",
                     signature_->name);
        return false;
    }
    index.resize(copy.size());
    std::transform(copy.begin(), copy.end(), index.begin(),
                   [](npy_int64 position) { return static_cast<int>(position); });
    return true;
}

// A mask of another size is refused before it is copied.
bool PackCall::mask(npy_intp size, const char* array_name, Vector<int>& entries) const {
    Reference array = integer_array(signature_->name, "mask", argument(Role::mask), true);
    if (!array) {
        return false;
    }
    if (size_of(array) != size) {
        PyErr_Format(PyExc_ValueError, "vm.%s: mask has %zd elements, %s has %zd",
                     signature_->name, size_of(array), array_name, size);
        return false;
    }
    Vector<npy_int64> copy;
    if (!private_copy(array, copy)) {
        return false;
    }
    entries.resize(copy.size());
    std::transform(copy.begin(), copy.end(), entries.begin(),
                   [](npy_int64 entry) { return entry != 0 ? 1 : 0; });
    return true;
}

bool PackCall::take_out(npy_intp count) {
    out_ = output_array(signature_->name, argument(Role::output), *precision_, count);
    return static_cast<bool>(out_);
}

npy_intp PackCall::a_size() const { return size_of(a_); }
npy_intp PackCall::out_size() const { return size_of(out_); }
const char* PackCall::a_data() const { return data_of(a_); }
char* PackCall::out_data() const { return data_of(out_); }

// The runtime reads a while writing out: where their memory overlaps, a is copied.
bool PackCall::copy_a_apart_from_out() {
    const char* a_start = data_of(a_);
    const char* out_start = data_of(out_);
    const char* a_end = a_start + PyArray_NBYTES(as_array(a_));
    const char* out_end = out_start + PyArray_NBYTES(as_array(out_));
    if (a_start < out_end && out_start < a_end) {
        a_.reset(PyArray_NewCopy(as_array(a_), NPY_CORDER));
        return static_cast<bool>(a_);
    }
    return true;
}

}  // namespace tessivec::dispatch
