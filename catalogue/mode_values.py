"""The runtime's documented mode values and error status codes, by the names the vm
interface offers them under (the runtime's own names without their VML_ prefix)."""

from __future__ import annotations

MODE_VALUES = {
    # Accuracy: one at a time.
    "LA": 0x1,
    "HA": 0x2,
    "EP": 0x3,
    "ACCURACY_MASK": 0xF,
    # Flushing denormal results to zero and reading denormal inputs as zero.
    "FTZDAZ_ON": 0x280000,
    "FTZDAZ_OFF": 0x140000,
    "FTZDAZ_CURRENT": 0x0,
    "FTZDAZ_MASK": 0x3C0000,
    # What the runtime does on an error; NOERR also leaves the error status untouched.
    "ERRMODE_IGNORE": 0x100,
    "ERRMODE_ERRNO": 0x200,
    "ERRMODE_STDERR": 0x400,
    "ERRMODE_EXCEPT": 0x800,
    "ERRMODE_CALLBACK": 0x1000,
    "ERRMODE_NOERR": 0x2000,
    "ERRMODE_DEFAULT": 0x1A00,  # ERRNO | EXCEPT | CALLBACK
    "ERRMODE_MASK": 0xFF00,
}

STATUS_CODES = {
    "STATUS_OK": 0,
    "STATUS_BADSIZE": -1,
    "STATUS_BADMEM": -2,
    "STATUS_ERRDOM": 1,
    "STATUS_SING": 2,
    "STATUS_OVERFLOW": 3,
    "STATUS_UNDERFLOW": 4,
    "STATUS_ACCURACYWARNING": 1000,
}


# The accuracies, by their names, as the runtime numbers them.
ACCURACIES = {name: MODE_VALUES[name] for name in ("LA", "HA", "EP")}
# The FTZDAZ settings the runtime defines.
FTZDAZ_SETTINGS = {name: MODE_VALUES[name]
                   for name in ("FTZDAZ_ON", "FTZDAZ_OFF", "FTZDAZ_CURRENT")}
# Each error-mode bit the runtime defines, by its name (not the field's mask or default).
ERRMODE_BITS = {name: value for name, value in MODE_VALUES.items()
                if name.startswith("ERRMODE_") and value and value & (value - 1) == 0}
# Every bit of a mode the runtime defines: other bits are trap flags or undefined.
DEFINED_BITS = (MODE_VALUES["ACCURACY_MASK"] | MODE_VALUES["FTZDAZ_MASK"] |
                sum(ERRMODE_BITS.values()))
