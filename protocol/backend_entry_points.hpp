// Typed calls of the backend's conversion entry points. Each reads its exports-table
// slot afresh: the table is the backend's, filled during registration.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "protocol/exports_table.hpp"

namespace tessivec::protocol::backend {

enum Slot : std::size_t {
    to_c_i32_slot = 5,
    to_c_u32_slot = 6,
    to_c_i64_slot = 7,
    from_c_pointer_slot = 10,
    to_c_pointer_slot = 11,
    restore_errno_slot = 13,
    save_errno_slot = 14,
    to_c_slot = 17,
    prepare_pointer_call_argument_slot = 23,
    convert_array_from_object_slot = 24,
};

template <class EntryPoint>
EntryPoint entry_point(Slot slot) {
    return reinterpret_cast<EntryPoint>(exports_table[slot]);
}

inline int to_c_i32(PyObject* object) {
    return entry_point<int (*)(PyObject*)>(to_c_i32_slot)(object);
}

inline unsigned int to_c_u32(PyObject* object) {
    return entry_point<unsigned int (*)(PyObject*)>(to_c_u32_slot)(object);
}

inline long long to_c_i64(PyObject* object) {
    return entry_point<long long (*)(PyObject*)>(to_c_i64_slot)(object);
}

inline PyObject* from_c_pointer(char* pointer, _cffi_ctypedescr* type) {
    return entry_point<PyObject* (*)(char*, _cffi_ctypedescr*)>(from_c_pointer_slot)(pointer,
                                                                                      type);
}

inline char* to_c_pointer(PyObject* object, _cffi_ctypedescr* type) {
    return entry_point<char* (*)(PyObject*, _cffi_ctypedescr*)>(to_c_pointer_slot)(object, type);
}

inline void restore_errno() { entry_point<void (*)()>(restore_errno_slot)(); }

inline void save_errno() { entry_point<void (*)()>(save_errno_slot)(); }

inline int to_c(char* destination, _cffi_ctypedescr* type, PyObject* object) {
    return entry_point<int (*)(char*, _cffi_ctypedescr*, PyObject*)>(to_c_slot)(destination,
                                                                              type, object);
}

// 0: the backend stored the pointer to pass; > 0: bytes of scratch space needed;
// < 0: refused, with the exception set.
inline Py_ssize_t prepare_pointer_call_argument(_cffi_ctypedescr* type, PyObject* object,
                                                char** pointer) {
    return entry_point<Py_ssize_t (*)(_cffi_ctypedescr*, PyObject*, char**)>(
        prepare_pointer_call_argument_slot)(type, object, pointer);
}

inline int convert_array_from_object(char* scratch, _cffi_ctypedescr* type, PyObject* object) {
    return entry_point<int (*)(char*, _cffi_ctypedescr*, PyObject*)>(
        convert_array_from_object_slot)(scratch, type, object);
}

}  // namespace tessivec::protocol::backend
