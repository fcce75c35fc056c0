// What the wrapper knows of each parameter beyond its C type: the part it plays in the
// call, and the family whose rules say how many elements each array must hold.
#pragma once

namespace tessivec::bridge {

enum class Role {
    count,      // the element count
    input,      // an array the runtime reads
    output,     // an array the runtime writes
    scalar,     // one element-type value
    increment,  // the stride of PackI / UnpackI
    indexes,    // the index array of PackV / UnpackV
    mask,       // the mask array of PackM / UnpackM
    mode,       // the mode of an m form, or the one the mode setter sets
    value,      // the error status a service function sets
    callback,   // the error callback
};

enum class Family {
    elementwise,  // every array holds the count's number of elements
    pack_increment,
    pack_indexes,
    pack_mask,
    unpack_increment,
    unpack_indexes,
    unpack_mask,
    service,
    error_callback_setter,
    error_callback_clearer,
};

}  // namespace tessivec::bridge
