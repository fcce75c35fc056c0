#include "runtime/integer_interface.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

extern "C" int MKL_Set_Interface_Layer(int required_interface);

namespace tessivec::runtime {

namespace {

constexpr int interface_lp64 = 0x0;
constexpr int interface_ilp64 = 0x1;
constexpr int interface_gnu = 0x2;

constexpr char needs_32bit[] =
    "vantrel.mkl.tessivec passes 32-bit integers to the MKL runtime, but ";

// Whether `text` holds `word`, which is in upper case, compared without regard to case.
bool holds_word(std::string_view text, std::string_view word) {
    auto same = [](char given, char wanted) {
        return std::toupper(static_cast<unsigned char>(given)) == wanted;
    };
    return std::search(text.begin(), text.end(), word.begin(), word.end(), same) != text.end();
}

}  // namespace

bool select_32bit_integer_interface() {
    // The runtime reads the variable without regard to case and takes ILP64 wherever it
    // appears; an explicit request for the 64-bit interface is refused, not overridden.
    const char* requested = std::getenv("MKL_INTERFACE_LAYER");
    const std::string_view layer = requested != nullptr ? requested : "";
    if (holds_word(layer, "ILP64")) {
        PyErr_Format(PyExc_ImportError,
                     "%sMKL_INTERFACE_LAYER=%s selects its 64-bit integer interface (ILP64); "
                     "unset MKL_INTERFACE_LAYER or set it to LP64",
                     needs_32bit, requested);
        return false;
    }
    const bool gnu = holds_word(layer, "GNU");
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
