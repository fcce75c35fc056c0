"""The installed distribution's metadata says what the package is and supports, and
agrees with what the distribution ships and the module does."""

import re
import sys
from importlib import metadata

import pytest
import vantrel.mkl
from vantrel.mkl import _runtime

DISTRIBUTION = "vantrel-mkl"
META = metadata.metadata(DISTRIBUTION)
FILES = list(metadata.files(DISTRIBUTION))
# A sentence of each license's own text, by its SPDX identifier.
LICENSE_TEXTS = {"MIT": "Permission is hereby granted, free of charge, to any person"}


def test_the_version_is_the_installed_distributions():
    assert vantrel.mkl.__version__ == metadata.version(DISTRIBUTION) != "0+unknown"


def test_the_license_is_stated_in_the_field_pip_shows_and_is_the_shipped_files():
    # Core metadata 2.4 forbids License beside License-Expression; pip before 25.0 shows
    # only License.
    license_name = META["License"]
    assert "License-Expression" not in META
    assert license_name in LICENSE_TEXTS, f"{license_name!r} is no license of this table"
    assert f"License :: OSI Approved :: {license_name} License" in META.get_all("Classifier")
    (path,) = [p for p in FILES if p.name == "LICENSE"]
    assert LICENSE_TEXTS[license_name] in path.locate().read_text()


def test_typed_is_claimed_and_shipped_with_a_stub_beside_each_module():
    assert "Typing :: Typed" in META.get_all("Classifier")
    (marker,) = [path for path in FILES if path.name == "py.typed"]
    stubs = [p for p in FILES if p.suffix == ".pyi"]
    assert {p.stem for p in stubs} == {"tessivec", "vm"}
    for stub in stubs:  # a checker finds a stub by the module's name in its directory
        assert stub.parent == marker.parent
        assert any(p.parent == stub.parent and p.name.split(".")[0] == stub.stem
                   and p.suffix in (".py", ".so") for p in FILES), stub


def test_the_classifiers_name_each_python_from_the_oldest_supported_to_this_one():
    classifiers = set(META.get_all("Classifier"))
    minors = sorted(int(m.group(1)) for c in classifiers
                    if (m := re.fullmatch(r"Programming Language :: Python :: 3\.(\d+)", c)))
    oldest = re.fullmatch(r">=3\.(\d+)", META["Requires-Python"])
    assert oldest and minors[0] == int(oldest.group(1)), "Requires-Python's floor is classified"
    assert minors == list(range(minors[0], minors[-1] + 1)), "no version left out"
    assert sys.version_info[0] == 3 and sys.version_info[1] in minors, "this Python"
    assert {"Programming Language :: Python :: Implementation :: CPython",
            "Operating System :: POSIX :: Linux"} <= classifiers


def test_the_runtime_requirement_is_the_one_the_module_names():
    requirements = pytest.importorskip("packaging.requirements")
    stated = requirements.Requirement(_runtime.requirement("mkl"))
    own = requirements.Requirement(_runtime.REQUIREMENT)
    # Where the metadata cannot be read, the module names its own copy.
    assert (stated.name, stated.specifier) == (own.name, own.specifier)
    spec = stated.specifier
    # Its floor is the oldest runtime the module accepts when it loads one.
    assert [s.version for s in spec if s.operator == ">="] == ["{}.{}".format(*_runtime.OLDEST)]
    assert "2026.2.0" not in spec  # its wheel lacks libmkl_gf_lp64.so.3
    assert metadata.version("mkl") in spec
