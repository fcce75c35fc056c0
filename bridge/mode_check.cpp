#include "bridge/mode_check.hpp"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace tessivec::bridge {

void refuse_mode(const char* function, unsigned long long mode) {
    char hexadecimal[24];
    std::snprintf(hexadecimal, sizeof hexadecimal, "%#llx", mode);
    // The accuracies the runtime defines, by name: "0, LA 1, HA 2 or EP 3".
    char defined[64] = "0";
    const std::size_t count = std::size(runtime::mode_values::accuracies);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& accuracy = runtime::mode_values::accuracies[i];
        char upper[8] = {};
        for (std::size_t k = 0; accuracy.name[k] != '\0' && k + 1 < sizeof upper; ++k) {
            upper[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(accuracy.name[k])));
        }
        const std::size_t used = std::strlen(defined);
        std::snprintf(defined + used, sizeof defined - used, "%s%s %u",
                      i + 1 == count ? " or " : ", ", upper, accuracy.value);
    }
    PyErr_Format(PyExc_ValueError,
                 "%s: mode %s has accuracy field %d, which the runtime does not define (%s)",
                 function, hexadecimal, static_cast<int>(mode & accuracy_field_mask), defined);
}

}  // namespace tessivec::bridge
