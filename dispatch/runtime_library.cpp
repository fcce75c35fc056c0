#include "dispatch/runtime_library.hpp"

#include <dlfcn.h>

#include "runtime/runtime_services.hpp"

namespace tessivec::dispatch {

const char* runtime_file() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&runtime::vmlGetMode), &info) == 0) {
        return nullptr;
    }
    return info.dli_fname;
}

void* loaded_symbol(const char* library, const char* name) {
    if (library == nullptr) {
        return nullptr;
    }
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return nullptr;
    }
    void* symbol = dlsym(handle, name);
    dlclose(handle);  // whoever loaded the library keeps it loaded
    return symbol;
}

bool is_loaded(const char* library) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

}  // namespace tessivec::dispatch
