"""The registration handshake and the type context, read word for word through an
intercepted registration in a fresh interpreter and compared with the tables CFFI's
own compiler lays out for the catalogue's declarations (cffi_oracle.py)."""

import json
import subprocess
import sys
from pathlib import Path

import pytest
from cffi import cffi_opcode

from cffi_oracle import expected_context
from conftest import OFFERED

MODULE_NAME = "vantrel.mkl.tessivec"
EXPORTS_SLOTS = 26


@pytest.fixture(scope="module")
def seen():
    probe = Path(__file__).with_name("registration_probe.py")
    output = subprocess.run([sys.executable, str(probe)], check=True, capture_output=True,
                            text=True).stdout
    return json.loads(output)


@pytest.fixture(scope="module")
def context(seen):
    return seen["context"]


def test_the_backend_gets_one_integer_naming_the_block(seen):
    assert seen["arguments"] == ["int"] and seen["keywords"] == []
    block = seen["block"]
    assert block["name"] == MODULE_NAME
    assert block["version"] == 0x2601


def test_the_module_is_the_object_the_backend_returned(seen):
    assert seen["module_id"] == seen["result_id"]
    assert seen["module_attributes"] == ["ffi", "lib"]


def test_the_backend_fills_the_exports_table_during_registration(seen):
    assert seen["exports_before"] == [0] * EXPORTS_SLOTS
    after = seen["exports_after"]
    # Protocol 0x2601 without 'extern "Python"' fills 25 slots, the first of them null:
    # every slot a wrapper may call through holds a function of its own.
    assert [bool(p) for p in after] == [False] + [True] * (EXPORTS_SLOTS - 2) + [False]
    assert len(set(after[1:-1])) == EXPORTS_SLOTS - 2


@pytest.fixture(scope="module")
def expected():
    return expected_context(MODULE_NAME)


def test_context_counts_and_absent_tables(context, expected):
    assert context["scalars"] == {
        "num_globals": len(OFFERED), "num_struct_unions": len(expected.records),
        "num_enums": expected.enums, "num_typenames": len(expected.type_names),
        "num_types": len(expected.types), "flags": expected.flags}
    assert context["null_pointers"] == ["enums", "includes"]


def test_type_table_is_the_one_cffi_lays_out(context, expected):
    words = context["types"]
    mismatches = [(i, hex(ours), hex(theirs))
                  for i, (ours, theirs) in enumerate(zip(words, expected.types)) if ours != theirs]
    assert (mismatches, len(words)) == ([], len(expected.types))


def test_globals_are_the_ones_cffi_lays_out(context, expected):
    assert [(g[0], g[2]) for g in context["globals"]] == expected.globals
    names = [g[0] for g in context["globals"]]
    assert names == [f.name for f in OFFERED]
    # The backend finds a name by bisection over the bytes of the names.
    assert all(a.encode() < b.encode() for a, b in zip(names, names[1:]))
    # Each entry has its own wrapper and its own direct-call entry.
    addresses = [g[1] for g in context["globals"]] + [g[3] for g in context["globals"]]
    assert all(addresses) and len(set(addresses)) == 2 * len(OFFERED)


def test_calling_kinds_follow_the_parameter_count(context):
    kinds = {0: cffi_opcode.OP_CPYTHON_BLTN_N, 1: cffi_opcode.OP_CPYTHON_BLTN_O}
    for (name, _, type_op, _), function in zip(context["globals"], OFFERED):
        assert type_op & 0xFF == kinds.get(len(function.params), cffi_opcode.OP_CPYTHON_BLTN_V)


def test_records_fields_and_type_names_are_the_ones_cffi_lays_out(context, expected):
    assert [tuple(r) for r in context["records"]] == expected.records
    assert [tuple(f) for f in context["fields"]] == expected.fields
    assert [tuple(t) for t in context["type_names"]] == expected.type_names


def test_backend_builds_the_types_the_tables_describe(ffi):
    assert ffi.sizeof("DefVmlErrorContext") == 144 and ffi.alignof("MKL_Complex8") == 4
    assert ffi.offsetof("MKLVersion", "ProductStatus") == 16
    assert ffi.offsetof("DefVmlErrorContext", "dbA1Im") == 112
    assert ffi.typeof("struct _MKL_Complex16") is ffi.typeof("MKL_Complex16")
    assert ffi.typeof("VMLErrorCallBack") is ffi.typeof("int(*)(DefVmlErrorContext *)")


def test_lib_offers_exactly_the_catalogue(lib):
    assert sorted(dir(lib)) == sorted(f.name for f in OFFERED)


def test_a_missing_backend_fails_the_import():
    code = ("import sys; sys.modules['_cffi_backend'] = None\n"
            "try:\n    import vantrel.mkl.tessivec\n"
            "except ImportError as e:\n    print(type(e).__name__)")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.stdout.strip() in ("ImportError", "ModuleNotFoundError")


def test_a_failed_registration_releases_the_backend():
    code = """
import sys, _cffi_backend
def refuse(address):
    raise RuntimeError("refused")
_cffi_backend._init_cffi_1_0_external_module = refuse
before = sys.getrefcount(_cffi_backend)
try:
    import vantrel.mkl.tessivec
except RuntimeError as error:
    print(error, sys.getrefcount(_cffi_backend) - before)
"""
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.stdout.split() == ["refused", "0"]
