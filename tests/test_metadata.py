"""The installed distribution's metadata says what the package is and supports."""

import sys
from importlib import metadata

import vantrel.mkl

META = metadata.metadata("vantrel-mkl")


def test_the_version_is_the_installed_distributions():
    assert vantrel.mkl.__version__ == metadata.version("vantrel-mkl") != "0+unknown"


def test_the_license_is_stated_in_the_field_pip_shows_with_its_file_shipped():
    # Core metadata 2.4 forbids License beside License-Expression; pip before 25.0 shows
    # only License.
    assert META["License"] == "MIT" and META["License-Expression"] is None
    assert "License :: OSI Approved :: MIT License" in META.get_all("Classifier")
    files = {path.name for path in metadata.files("vantrel-mkl")}
    assert "LICENSE" in files and "py.typed" in files


def test_the_classifiers_name_this_python_and_the_platform():
    classifiers = set(META.get_all("Classifier"))
    python = f"Programming Language :: Python :: {sys.version_info[0]}.{sys.version_info[1]}"
    assert python in classifiers
    assert {"Programming Language :: Python :: Implementation :: CPython",
            "Operating System :: POSIX :: Linux", "Typing :: Typed"} <= classifiers


def test_the_runtime_requirement_leaves_out_the_incomplete_release():
    mkl = next(line for line in metadata.requires("vantrel-mkl") if line.startswith("mkl"))
    assert "!=2026.2.0" in mkl.replace(" ", "")
