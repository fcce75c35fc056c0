// vm's gather and scatter functions, packi, packv, packm, unpacki, unpackv and
// unpackm: arrays in, the runtime's by-value functions called directly. Their arguments
// are taken by their signatures and converted by their roles (dispatch/pack_call.hpp);
// here each function checks its reach and moves the elements.
#include "dispatch/pack.hpp"

#include "common/reach.hpp"
#include "dispatch/exception_boundary.hpp"
#include "dispatch/pack_call.hpp"

namespace tessivec::dispatch {

namespace {

// Whether elements 0, incr, ..., (n-1)*incr lie within an array of `size`; ValueError
// by `message` (the array's size, n, incr, the elements reached) where they do not.
bool reaches_within(npy_intp size, long long n, long long incr, const char* message) {
    const common::Requirement reach = common::strided(n, incr);
    if (reach.count > size) {
        PyErr_Format(PyExc_ValueError, message, size, n, incr, reach.count);
        return false;
    }
    return true;
}

PyObject* packi(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PackCall call("packi");
    long long incr, n;
    if (!call.begin(args, nargs, names) || !call.integer(Role::increment, 1, incr) ||
        !call.integer(Role::count, 0, n)) {
        return nullptr;
    }
    if (!reaches_within(call.a_size(), n, incr, "vm.packi: a has %zd elements; n=%lld at "
                        "increment %lld reads %lld") ||
        !call.take_out(static_cast<npy_intp>(n))) {
        return nullptr;
    }
    const PackPrecision& p = call.precision();
    return call.run(static_cast<npy_intp>(n), [&](const char* source, char* target,
                                                  npy_intp start, int count, npy_intp size) {
        p.pack_increment(count, source + start * incr * size, static_cast<int>(incr),
                         target + start * size);
    });
}

PyObject* packv(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PackCall call("packv");
    Vector<int> index;
    // The result, one element per index, is allocated before the index is copied: an
    // index too long for memory fails there, with MemoryError.
    if (!call.begin(args, nargs, names)) {
        return nullptr;
    }
    const npy_intp size = call.index_size();
    if (size < 0 || !call.take_out(size) || !call.positions(call.a_size(), "a", index)) {
        return nullptr;
    }
    const PackPrecision& p = call.precision();
    return call.run(static_cast<npy_intp>(index.size()),
                    [&](const char* source, char* target, npy_intp start, int count,
                        npy_intp element_size) {
                        p.pack_indexes(count, source, index.data() + start,
                                       target + start * element_size);
                    });
}

PyObject* packm(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PackCall call("packm");
    Vector<int> mask;
    if (!call.begin(args, nargs, names) || !call.mask(call.a_size(), "a", mask)) {
        return nullptr;
    }
    const npy_intp size = call.a_size();
    if (!call.take_out(static_cast<npy_intp>(common::masked(size, mask.data()).count))) {
        return nullptr;
    }
    const PackPrecision& p = call.precision();
    npy_intp done = 0;
    return call.run(size, [&](const char* source, char* target, npy_intp start, int count,
                              npy_intp element_size) {
        p.pack_mask(count, source + start * element_size, mask.data() + start,
                    target + done * element_size);
        done += common::masked(count, mask.data() + start).count;
    });
}

PyObject* unpacki(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PackCall call("unpacki");
    long long incr;
    if (!call.begin(args, nargs, names) || !call.integer(Role::increment, 1, incr) ||
        !call.take_out(-1)) {
        return nullptr;
    }
    const npy_intp count = call.a_size();
    if (!reaches_within(call.out_size(), count, incr, "vm.unpacki: out has %zd elements; "
                        "a's %lld at increment %lld reach %lld")) {
        return nullptr;
    }
    const PackPrecision& p = call.precision();
    return call.run(count, [&](const char* source, char* target, npy_intp start, int run,
                               npy_intp size) {
        p.unpack_increment(run, source + start * size, target + start * incr * size,
                           static_cast<int>(incr));
    });
}

PyObject* unpackv(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PackCall call("unpackv");
    if (!call.begin(args, nargs, names) || !call.take_out(-1)) {
        return nullptr;
    }
    const npy_intp count = call.a_size();
    const npy_intp size = call.index_size();
    if (size < 0) {
        return nullptr;
    }
    if (size != count) {
        PyErr_Format(PyExc_ValueError, "vm.unpackv: index has %zd elements, a has %zd", size,
                     count);
        return nullptr;
    }
    Vector<int> index;
    if (!call.positions(call.out_size(), "out", index)) {
        return nullptr;
    }
    const PackPrecision& p = call.precision();
    return call.run(count, [&](const char* source, char* target, npy_intp start, int run,
                               npy_intp element_size) {
        p.unpack_indexes(run, source + start * element_size, target, index.data() + start);
    });
}

PyObject* unpackm(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* names) {
    PackCall call("unpackm");
    Vector<int> mask;
    if (!call.begin(args, nargs, names) || !call.take_out(-1) ||
        !call.mask(call.out_size(), "out", mask)) {
        return nullptr;
    }
    const npy_intp size = call.out_size();
    const long long read = common::masked(size, mask.data()).count;
    if (read != call.a_size()) {
        PyErr_Format(PyExc_ValueError, "vm.unpackm: a has %zd elements, mask selects %lld",
                     call.a_size(), read);
        return nullptr;
    }
    const PackPrecision& p = call.precision();
    npy_intp done = 0;
    return call.run(size, [&](const char* source, char* target, npy_intp start, int run,
                              npy_intp element_size) {
        p.unpack_mask(run, source + done * element_size, target + start * element_size,
                      mask.data() + start);
        done += common::masked(run, mask.data() + start).count;
    });
}

template <auto Function>
PyMethodDef method(const char* name) {
    const PackSignature* signature = pack_signature(name);
    return {name, python_method<Function>(), METH_FASTCALL | METH_KEYWORDS,
            signature != nullptr ? signature->doc : nullptr};
}

}  // namespace

PyMethodDef pack_methods[6] = {
    method<&packi>("packi"),     method<&packv>("packv"),     method<&packm>("packm"),
    method<&unpacki>("unpacki"), method<&unpackv>("unpackv"), method<&unpackm>("unpackm"),
};

}  // namespace tessivec::dispatch
