"""The registration handshake and the type context, read word for word through an
intercepted registration in a fresh interpreter."""

import json
import re
import subprocess
import sys
from collections import Counter
from pathlib import Path

import pytest

from conftest import OFFERED
from expected_type_context import (
    ARRAY_LENGTH_WORD,
    FIELDS,
    FUNCTION_TYPES,
    OTHER_TYPES,
    RECORDS,
    SLOTS_USED,
    TYPE_NAMES,
)

OP_PRIMITIVE, OP_FUNCTION, OP_FUNCTION_END, OP_NOOP = 1, 13, 15, 17
OP_CPYTHON_BLTN_V, OP_CPYTHON_BLTN_N, OP_CPYTHON_BLTN_O = 23, 25, 27


def op(code, arg):
    return code | (arg << 8)


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
    assert block["name"] == "vantrel.mkl.tessivec"
    assert block["version"] == 0x2601


def test_the_module_is_the_object_the_backend_returned(seen):
    assert seen["module_id"] == seen["result_id"]
    assert seen["module_attributes"] == ["ffi", "lib"]


def test_the_backend_fills_the_exports_table_during_registration(seen):
    assert seen["exports_before"] == [0] * 26
    after = seen["exports_after"]
    assert all(after[slot] for slot in SLOTS_USED)
    # Protocol 0x2601 without 'extern "Python"' fills 25 slots; the first is null.
    assert after[0] == 0 and after[25] == 0


def test_context_counts_and_absent_tables(context):
    assert context["scalars"] == {"num_globals": 1044, "num_struct_unions": 4, "num_enums": 0,
                                  "num_typenames": 5, "num_types": 643, "flags": 0}
    assert context["null_pointers"] == ["enums", "includes"]


def split_function_spelling(spelling):
    """(result spelling, parameter spellings) of a function type's spelling."""
    callback = "int(*)(DefVmlErrorContext *)"
    match = re.fullmatch(r"int\(\*\(\)\((.*)\)\)\(DefVmlErrorContext \*\)", spelling)
    if match:
        result, params = callback, match.group(1)
    else:
        result, params = re.fullmatch(r"(.*?)\(\)\((.*)\)", spelling).groups()
    params = params.replace(callback, "VMLErrorCallBack")
    parts = [] if params == "void" else params.split(", ")
    return result, [callback if p == "VMLErrorCallBack" else p for p in parts]


def test_type_table_word_for_word(context):
    words = context["types"]
    index_of = {spelling: index for index, (spelling, _, _) in OTHER_TYPES.items()}
    own_word = {index: op(code, arg) for index, (_, code, arg) in OTHER_TYPES.items()}
    expected = {}
    for index, spelling, _ in FUNCTION_TYPES:
        result, params = split_function_spelling(spelling)
        expected[index] = op(OP_FUNCTION, index_of[result])
        for position, param in enumerate(params, start=index + 1):
            type_index = index_of[param]
            if type_index == position or OTHER_TYPES[type_index][1] == OP_PRIMITIVE:
                expected[position] = own_word[type_index]
            else:
                expected[position] = op(OP_NOOP, type_index)
        expected[index + len(params) + 1] = op(OP_FUNCTION_END, 0)
    for index in OTHER_TYPES:
        expected.setdefault(index, own_word[index])
        assert expected[index] == own_word[index], f"type {index} is not at its own word"
    expected[ARRAY_LENGTH_WORD[0]] = ARRAY_LENGTH_WORD[1]
    assert sorted(expected) == list(range(643))
    mismatches = [(i, words[i], expected[i]) for i in range(643) if words[i] != expected[i]]
    assert mismatches == []


def test_type_table_word_counts(context):
    counts = Counter(w & 0xFF for w in context["types"][:641] + context["types"][642:])
    assert counts == {OP_FUNCTION: 105, OP_FUNCTION_END: 105, OP_NOOP: 305, OP_PRIMITIVE: 108,
                      3: 14, 9: 4, 5: 1}


def test_globals_table_order_and_calling_kinds(context):
    names = [g[0] for g in context["globals"]]
    assert names == sorted(names, key=str.encode) and len(set(names)) == 1044
    assert (names[0], names[347], names[348], names[-1]) == ("VCABS", "VZUNPACKV", "vcAbs",
                                                             "vzunpackv")
    assert Counter(name.lower() for name in names) == Counter({n: 3 for n in map(str.lower, names)})
    kinds = Counter(g[2] & 0xFF for g in context["globals"])
    assert kinds == {OP_CPYTHON_BLTN_V: 1020, OP_CPYTHON_BLTN_O: 9, OP_CPYTHON_BLTN_N: 15}
    addresses = [g[1] for g in context["globals"]] + [g[3] for g in context["globals"]]
    assert all(addresses) and len(set(addresses)) == 2 * 1044


def test_every_function_names_its_function_type(context):
    by_spelling = {spelling: index for index, spelling, _ in FUNCTION_TYPES}
    uses = Counter()
    for (name, _, type_op, _), function in zip(context["globals"], OFFERED):
        assert name == function.name
        type_index = type_op >> 8
        assert type_index == by_spelling[function.function_type.spelling], name
        kind = {0: OP_CPYTHON_BLTN_N, 1: OP_CPYTHON_BLTN_O}.get(len(function.params),
                                                                OP_CPYTHON_BLTN_V)
        assert type_op & 0xFF == kind, name
        uses[type_index] += 1
    assert uses == {index: count for index, _, count in FUNCTION_TYPES if count}


@pytest.mark.parametrize("name, type_index", [
    ("vsSqrt", 541), ("vmsSqrt", 571), ("vssqrt", 210), ("VMSSQRT", 234),
    ("vmsLinearFrac", 600), ("VSADD", 240), ("vzPowx", 316), ("vzpowx", 41), ("vcCIS", 530),
    ("vzAbs", 329), ("vsPackI", 630), ("vzUnpackI", 291), ("vmlSetMode", 19),
    ("vmlsetmode", 16), ("VMLSETERRORCALLBACK", 11), ("vmlClearErrorCallBack", 14),
])
def test_named_functions_use_their_types(context, name, type_index):
    entry = next(g for g in context["globals"] if g[0] == name)
    assert entry[2] >> 8 == type_index


def test_records_fields_and_type_names(context):
    assert [tuple(r) for r in context["records"]] == RECORDS
    assert [(n, off, size, type_op) for n, off, size, type_op in context["fields"]] == [
        (n, off, size, op(OP_NOOP, t)) for n, off, size, t in FIELDS]
    assert [tuple(t) for t in context["type_names"]] == TYPE_NAMES


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
