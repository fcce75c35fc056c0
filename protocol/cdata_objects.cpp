#include "protocol/cdata_objects.hpp"

#include <cstring>

namespace tessivec::protocol {

CDataTypes::Known CDataTypes::known_[8] = {};
PyTypeObject* CDataTypes::borrowing_[2] = {};

namespace {

CDataKind kind_by_name(const char* name) {
    struct Named {
        const char* name;
        CDataKind kind;
    };
    static constexpr Named names[] = {
        {"_cffi_backend._CDataBase", CDataKind::plain},
        {"_cffi_backend.__CDataOwn", CDataKind::owning},
        {"_cffi_backend.__CDataOwnGC", CDataKind::callback},
        {"_cffi_backend.__CDataFromBuf", CDataKind::from_buffer},
        {"_cffi_backend.__CDataGCP", CDataKind::gc_wrapper},
    };
    for (const Named& named : names) {
        if (std::strcmp(name, named.name) == 0) {
            return named.kind;
        }
    }
    return CDataKind::none;
}

}  // namespace

CDataKind CDataTypes::learn(PyTypeObject* type) {
    CDataKind kind = kind_by_name(type->tp_name);
    // Every kind reports its length through the mapping protocol, as the backend's do.
    if (kind != CDataKind::none &&
        (type->tp_as_mapping == nullptr || type->tp_as_mapping->mp_length == nullptr)) {
        kind = CDataKind::none;
    }
    if (kind != CDataKind::none) {
        for (Known& slot : known_) {
            if (slot.type == nullptr) {
                Py_INCREF(type);
                slot = {type, kind};
                if (kind == CDataKind::from_buffer || kind == CDataKind::gc_wrapper) {
                    borrowing_[kind == CDataKind::from_buffer ? 0 : 1] = type;
                }
                break;
            }
        }
    }
    return kind;
}

}  // namespace tessivec::protocol
