// vm's ufuncs, built from the generated table: one per operation in the thread's
// accuracy, and one per operation in each of the runtime's accuracies.
#pragma once

#include "dispatch/numpy_api.hpp"

namespace tessivec::dispatch {

// A new dict: name -> ufunc for the thread's accuracy when `accuracy` is null, else for
// the named accuracy ("la", "ha" or "ep"), whose ufuncs are named "la.exp" and so on.
// Every ufunc names `module` as its module, so that it pickles by reference.
PyObject* new_ufuncs(const char* accuracy, const char* module);

}  // namespace tessivec::dispatch
