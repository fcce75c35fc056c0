"""Imports the module with the backend's registration method intercepted, and prints
as JSON everything the registration block points to, read through ctypes, together
with what the intercepted call saw and returned."""

import ctypes
import json
import sys

import _cffi_backend

EXPORTS_SLOTS = 26


class Global(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("address", ctypes.c_void_p),
                ("type_op", ctypes.c_size_t), ("size_or_direct_fn", ctypes.c_void_p)]


class Record(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("type_index", ctypes.c_int), ("flags", ctypes.c_int),
                ("size", ctypes.c_size_t), ("alignment", ctypes.c_int),
                ("first_field_index", ctypes.c_int), ("num_fields", ctypes.c_int)]


class Field(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("field_offset", ctypes.c_size_t),
                ("field_size", ctypes.c_size_t), ("field_type_op", ctypes.c_size_t)]


class TypeName(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("type_index", ctypes.c_int)]


class TypeContext(ctypes.Structure):
    _fields_ = [("types", ctypes.c_void_p), ("globals", ctypes.c_void_p),
                ("fields", ctypes.c_void_p), ("struct_unions", ctypes.c_void_p),
                ("enums", ctypes.c_void_p), ("typenames", ctypes.c_void_p),
                ("num_globals", ctypes.c_int), ("num_struct_unions", ctypes.c_int),
                ("num_enums", ctypes.c_int), ("num_typenames", ctypes.c_int),
                ("includes", ctypes.c_void_p), ("num_types", ctypes.c_int),
                ("flags", ctypes.c_int)]


def table(address, item, count):
    return list((item * count).from_address(address)) if count else []


def read_context(address):
    ctx = TypeContext.from_address(address)
    records = table(ctx.struct_unions, Record, ctx.num_struct_unions)
    fields_count = max((r.first_field_index + r.num_fields for r in records), default=0)
    return {
        "scalars": {name: getattr(ctx, name) for name, _ in TypeContext._fields_
                    if name.startswith("num_") or name == "flags"},
        "null_pointers": [name for name in ("enums", "includes") if not getattr(ctx, name)],
        "types": table(ctx.types, ctypes.c_size_t, ctx.num_types),
        "globals": [[g.name.decode(), g.address, g.type_op, g.size_or_direct_fn]
                    for g in table(ctx.globals, Global, ctx.num_globals)],
        "records": [[r.name.decode(), r.type_index, r.flags, r.size, r.alignment,
                     r.first_field_index, r.num_fields]
                    for r in records],
        "fields": [[f.name.decode(), f.field_offset, f.field_size, f.field_type_op]
                   for f in table(ctx.fields, Field, fields_count)],
        "type_names": [[t.name.decode(), t.type_index]
                       for t in table(ctx.typenames, TypeName, ctx.num_typenames)],
    }


def main():
    real_method = _cffi_backend._init_cffi_1_0_external_module
    seen = {}

    def intercept(*args, **kwargs):
        seen["arguments"] = [type(a).__name__ for a in args]
        seen["keywords"] = sorted(kwargs)
        block = (ctypes.c_void_p * 4).from_address(args[0])
        exports = (ctypes.c_void_p * EXPORTS_SLOTS).from_address(block[2])
        seen["block"] = {"address": args[0], "name": ctypes.string_at(block[0]).decode(),
                         "version": block[1], "exports": block[2], "context": block[3]}
        seen["exports_before"] = [p or 0 for p in exports]
        seen["context"] = read_context(block[3])
        result = real_method(*args, **kwargs)
        seen["exports_after"] = [p or 0 for p in exports]
        seen["result_id"] = id(result)
        return result

    _cffi_backend._init_cffi_1_0_external_module = intercept
    import vantrel.mkl.tessivec as module
    seen["module_id"] = id(module)
    seen["module_attributes"] = sorted(a for a in vars(module) if not a.startswith("__"))
    json.dump(seen, sys.stdout)


if __name__ == "__main__":
    main()
