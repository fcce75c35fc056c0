// Where the extension finds what it does not declare of the runtime: the file its
// functions were loaded from, and symbols of libraries the runtime has loaded (its
// thread settings, its threading layer and that layer's OpenMP library).
#pragma once

namespace tessivec::dispatch {

// The file the runtime's functions were loaded from, or null.
const char* runtime_file();

// `name` in the library loaded as `library` (a file or soname), or null where either is
// not there: the library is not loaded by this lookup, only found.
void* loaded_symbol(const char* library, const char* name);

// Whether the library is loaded in the process.
bool is_loaded(const char* library);

}  // namespace tessivec::dispatch
