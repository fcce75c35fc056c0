#include "dispatch/dtype_resolution.hpp"

#include <string>

#include "dispatch/reference.hpp"

namespace tessivec::dispatch {

namespace {

Kind kind_of(const PyArray_Descr* descr) {
    const int type = descr->type_num;
    if (PyTypeNum_ISBOOL(type)) {
        return Kind::boolean;
    }
    if (PyTypeNum_ISINTEGER(type)) {
        return Kind::integer;
    }
    if (PyTypeNum_ISFLOAT(type)) {
        return Kind::real;
    }
    if (PyTypeNum_ISCOMPLEX(type)) {
        return Kind::complex;
    }
    return Kind::other;
}

PyObject* descr_of(int type_number) {
    return reinterpret_cast<PyObject*>(PyArray_DescrFromType(type_number));
}

// A Python scalar of a higher kind than the arrays' promoted dtype lifts it to NumPy's
// default type of that kind, except that a real dtype keeps its precision for complex.
Reference with_python_scalars(Reference promoted, Kind weak) {
    if (weak == Kind::none) {
        return promoted;
    }
    const auto* descr = reinterpret_cast<PyArray_Descr*>(promoted.get());
    const Kind strong = descr == nullptr ? Kind::none : kind_of(descr);
    if (strong == Kind::other || (strong != Kind::none && weak <= strong)) {
        return promoted;
    }
    if (weak == Kind::complex && strong == Kind::real) {
        PyArray_Descr* pair[2] = {reinterpret_cast<PyArray_Descr*>(promoted.get()),
                                  PyArray_DescrFromType(NPY_CFLOAT)};
        Reference complex_single(reinterpret_cast<PyObject*>(pair[1]));
        return Reference(reinterpret_cast<PyObject*>(PyArray_ResultType(0, nullptr, 2, pair)));
    }
    switch (weak) {
        case Kind::integer:
            return Reference(descr_of(NPY_INTP));
        case Kind::real:
            return Reference(descr_of(NPY_DOUBLE));
        default:
            return Reference(descr_of(NPY_CDOUBLE));
    }
}

// Loops are ordered by widening input type, so a loop of exactly the promoted type is
// also the first the promoted type casts to safely; finding it needs no cast lookup.
const Loop* first_safe_loop(std::span<const Loop> loops, PyArray_Descr* promoted) {
    for (const Loop& loop : loops) {
        if (promoted->type_num == loop.input_type) {
            return &loop;
        }
    }
    for (const Loop& loop : loops) {
        Reference target(descr_of(loop.input_type));
        if (PyArray_CanCastTypeTo(promoted, reinterpret_cast<PyArray_Descr*>(target.get()),
                                  NPY_SAFE_CASTING)) {
            return &loop;
        }
    }
    return nullptr;
}

void refuse(PyObject* function_name, std::span<const Loop> loops, PyObject* promoted) {
    std::string offered;
    for (const Loop& loop : loops) {
        offered += (offered.empty() ? "" : ", ") + std::string(type_name(loop.input_type));
    }
    PyErr_Format(PyExc_TypeError, "vm.%U does not support dtype %S; it takes %s", function_name,
                 promoted, offered.c_str());
}

// NumPy's own error says which dtypes failed to promote, not for which function.
void refuse_promotion(PyObject* function_name, std::span<PyArrayObject*> strong) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
        return;
    }
    PyErr_Clear();
    Reference dtypes(PyTuple_New(static_cast<Py_ssize_t>(strong.size())));
    if (!dtypes) {
        return;
    }
    for (std::size_t i = 0; i < strong.size(); ++i) {
        PyObject* descr = reinterpret_cast<PyObject*>(PyArray_DESCR(strong[i]));
        Py_INCREF(descr);
        PyTuple_SET_ITEM(dtypes.get(), static_cast<Py_ssize_t>(i), descr);
    }
    PyErr_Format(PyExc_TypeError, "vm.%U does not support dtypes %R together", function_name,
                 dtypes.get());
}

}  // namespace

Kind python_scalar_kind(PyObject* object) {
    if (PyBool_Check(object) || PyArray_IsScalar(object, Generic)) {
        return Kind::none;
    }
    if (PyLong_Check(object)) {
        return Kind::integer;
    }
    if (PyFloat_Check(object)) {
        return Kind::real;
    }
    if (PyComplex_Check(object)) {
        return Kind::complex;
    }
    return Kind::none;
}

const Loop* resolve_loop(PyObject* function_name, std::span<const Loop> loops,
                         std::span<PyArrayObject*> strong, Kind weak) {
    Reference promoted;
    if (strong.size() == 1) {
        promoted = Reference::borrowed(reinterpret_cast<PyObject*>(PyArray_DESCR(strong[0])));
    } else if (!strong.empty()) {
        promoted = Reference(reinterpret_cast<PyObject*>(
            PyArray_ResultType(static_cast<npy_intp>(strong.size()), strong.data(), 0, nullptr)));
        if (!promoted) {
            refuse_promotion(function_name, strong);
            return nullptr;
        }
    }
    promoted = with_python_scalars(std::move(promoted), weak);
    if (!promoted) {
        return nullptr;
    }
    const Loop* loop = first_safe_loop(loops, reinterpret_cast<PyArray_Descr*>(promoted.get()));
    if (loop == nullptr) {
        refuse(function_name, loops, promoted.get());
    }
    return loop;
}

const char* type_name(int type_number) {
    switch (type_number) {
        case NPY_FLOAT:
            return "float32";
        case NPY_DOUBLE:
            return "float64";
        case NPY_CFLOAT:
            return "complex64";
        case NPY_CDOUBLE:
            return "complex128";
        default:
            return "?";
    }
}

}  // namespace tessivec::dispatch
