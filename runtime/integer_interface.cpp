#include "runtime/integer_interface.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>


extern "C" int MKL_Set_Interface_Layer(int required_interface);

namespace tessivec::runtime {

namespace {

constexpr int interface_lp64 = 0x0;
constexpr int interface_ilp64 = 0x1;

}  // namespace

// The package's loader has chosen the 32-bit interface (in the calling convention
// MKL_INTERFACE_LAYER names, refusing a request for ILP64) before the extension loads;
// the interface cannot change once chosen, so asking for LP64 returns the one in force.
bool select_32bit_integer_interface() {
    const int in_force = MKL_Set_Interface_Layer(interface_lp64);
    if (in_force >= 0 && (in_force & interface_ilp64) != 0) {
        PyErr_SetString(PyExc_ImportError,
                        "vantrel.mkl.tessivec passes 32-bit integers to the MKL runtime, but "
                        "the runtime in this process already uses its 64-bit integer interface "
                        "(ILP64), chosen by code that ran earlier; the interface cannot change "
                        "once chosen");
        return false;
    }
    return true;
}

}  // namespace tessivec::runtime
