#include "runtime/integer_interface.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

extern "C" int MKL_Set_Interface_Layer(int required_interface);

namespace tessivec::runtime {

namespace {

constexpr int interface_lp64 = 0x0;
constexpr int interface_ilp64 = 0x1;
constexpr int interface_gnu = 0x2;

constexpr char needs_32bit[] =
    "vantrel.mkl.tessivec passes 32-bit integers to the MKL runtime, but ";

}  // namespace

bool select_32bit_integer_interface() {
    // The runtime reads the variable without regard to case and takes ILP64 wherever it
    // appears; an explicit request for the 64-bit interface is refused, not overridden.
    const char* requested = std::getenv("MKL_INTERFACE_LAYER");
    std::string layer = requested != nullptr ? requested : "";
    std::transform(layer.begin(), layer.end(), layer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (layer.find("ILP64") != std::string::npos) {
        PyErr_Format(PyExc_ImportError,
                     "%sMKL_INTERFACE_LAYER=%s selects its 64-bit integer interface (ILP64); "
                     "unset MKL_INTERFACE_LAYER or set it to LP64",
                     needs_32bit, requested);
        return false;
    }
    bool gnu = layer.find("GNU") != std::string::npos;
    int in_force = MKL_Set_Interface_Layer(interface_lp64 | (gnu ? interface_gnu : 0));
    if (in_force >= 0 && (in_force & interface_ilp64) != 0) {
        PyErr_Format(PyExc_ImportError,
                     "%sthe runtime in this process already uses its 64-bit integer interface "
                     "(ILP64), chosen by code that ran earlier; the interface cannot change "
                     "once chosen",
                     needs_32bit);
        return false;
    }
    return true;
}

}  // namespace tessivec::runtime
