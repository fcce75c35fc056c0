// The backend's type object for a C type: the word of the type table at the type's
// index, which the backend has overwritten by the time a wrapper can run.
#pragma once

#include "protocol/type_table.hpp"

namespace tessivec::protocol {

template <class T>
_cffi_ctypedescr* type_object() {
    static_assert(type_index<T> >= 0, "the type has no type index");
    return static_cast<_cffi_ctypedescr*>(type_table[type_index<T>]);
}

}  // namespace tessivec::protocol
