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
