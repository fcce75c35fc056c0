"""lib's generated sources stay as they are whatever vm gains: operations outside lib
(``in_lib=False``) reach only vm's tables, its stub and the header of their own
declarations. The digests are those of lib's sources as the generator writes them; a
change meant for lib updates them in the same commit."""

import hashlib
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# Every generated file but vm's own (dispatch/, its stub, the declarations only vm's
# loops include) and the link stub, which stands in for the runtime at link time only.
LIB_SOURCES = {
    "common/role_traits.inc":
        "9600c27bd46acd44b6489bb60af8360a1fa31109fc801317da632bf8353711e2",
    "module/globals_count.hpp":
        "4eee0fef3dd47f87633599e1a3cfdbae57e1f574e0ef3cc6e47581ff0789b5ac",
    "module/globals_table_entries.inc":
        "eb30b94e5b43aab4ebfba483a03b6532abcab50bee7d02c1997f25917a8cb15a",
    "module/record_tables.inc":
        "2ce9c9fe5091d40f66d969353fb61bfd9d2ff9c16b214c2b32d1b5e2f96656bd",
    "module/type_table_words.inc":
        "052ce20273a2498daa5ca005d0e963e6110dc0fd6378e12586d70fc31751727b",
    "protocol/type_indexes.hpp":
        "9a553a4f12bad16e2a43ddd16785391518ec01cd491d87042fce65707a027547",
    "python/tessivec.pyi":
        "1e77fe22222a80b2003d8578138c923d6245a6f21deba6e6b539f4dcb934de7d",
    "runtime/mode_values.hpp":
        "a976039ee6531f03daca24d39c1658f700c005dd404c04ba98cdb622dd8d5231",
    "runtime/runtime_functions.hpp":
        "2a60eea6af5b1d32445529202bbc61e38851e34f224a4055591c612239680861",
    "runtime/runtime_gather_scatter.hpp":
        "98159d826b5c8c2fcceb76ef81c38b783da0c063d301eecdc510b5b75ee6b1e8",
    "runtime/runtime_math.hpp":
        "4503a13fa414aed30ed662e1b7022f1efa7a5f41279a9d60e2cc8d005b1d9ef6",
    "runtime/runtime_records.hpp":
        "faa67532747d32ff22d3c237238047bfbc6ce775883789ef43e953c640ee7d59",
    "runtime/runtime_services.hpp":
        "69a87a2093699f64887778b05bf8775c05b43c44a1a9310673178c6b9a33db1f",
}
VM_ONLY = ("dispatch/", "python/vm.pyi", "runtime/runtime_vm_only_math.hpp",
           "runtime/link_stub.c")


def test_lib_sources_are_byte_for_byte_the_pinned_ones(tmp_path):
    subprocess.run([sys.executable, str(ROOT / "cmake" / "generate.py"), str(tmp_path)],
                   check=True)
    written = {str(path.relative_to(tmp_path)): hashlib.sha256(path.read_bytes()).hexdigest()
               for path in tmp_path.rglob("*") if path.is_file()}
    lib_sources = {name: digest for name, digest in written.items()
                   if not name.startswith(VM_ONLY)}
    assert lib_sources == LIB_SOURCES
    stub = (tmp_path / "runtime" / "link_stub.c").read_text()
    vm_only = (tmp_path / "runtime" / "runtime_vm_only_math.hpp").read_text()
    assert "void vmdJn(void) {}" in stub and "void vmdJn(" in vm_only
