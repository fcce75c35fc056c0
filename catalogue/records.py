"""The records the runtime shares with its callers, and the type names ffi knows."""

from __future__ import annotations

from .c_types import CHAR, DOUBLE, FLOAT, INT, Array, Function, Pointer, Record

MKL_COMPLEX8 = Record("MKL_Complex8", "_MKL_Complex8", (("real", FLOAT), ("imag", FLOAT)))
MKL_COMPLEX16 = Record("MKL_Complex16", "_MKL_Complex16", (("real", DOUBLE), ("imag", DOUBLE)))
DEF_VML_ERROR_CONTEXT = Record("DefVmlErrorContext", "_DefVmlErrorContext", (
    ("iCode", INT), ("iIndex", INT),
    ("dbA1", DOUBLE), ("dbA2", DOUBLE), ("dbR1", DOUBLE), ("dbR2", DOUBLE),
    ("cFuncName", Array(CHAR, 64)), ("iFuncNameLen", INT),
    ("dbA1Im", DOUBLE), ("dbA2Im", DOUBLE), ("dbR1Im", DOUBLE), ("dbR2Im", DOUBLE),
))
MKL_VERSION = Record("MKLVersion", None, (
    ("MajorVersion", INT), ("MinorVersion", INT), ("UpdateVersion", INT),
    ("ProductStatus", Pointer(CHAR)), ("Build", Pointer(CHAR)),
    ("Processor", Pointer(CHAR)), ("Platform", Pointer(CHAR)),
))
RECORDS = (MKL_COMPLEX8, MKL_COMPLEX16, DEF_VML_ERROR_CONTEXT, MKL_VERSION)

VML_ERROR_CALLBACK = Pointer(Function(INT, (Pointer(DEF_VML_ERROR_CONTEXT),)),
                             name="VMLErrorCallBack")

# Type names known to ffi, with the types they stand for.
TYPE_NAMES = {
    "DefVmlErrorContext": DEF_VML_ERROR_CONTEXT,
    "MKLVersion": MKL_VERSION,
    "MKL_Complex16": MKL_COMPLEX16,
    "MKL_Complex8": MKL_COMPLEX8,
    "VMLErrorCallBack": VML_ERROR_CALLBACK,
}
