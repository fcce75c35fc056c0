"""What pip and a user read of the installed distribution: the licence pip shows, the
runtime admitted up to its next major release, the project's links."""

import subprocess
import sys
from importlib import metadata

import pytest
from vantrel.mkl import _runtime

packaging_requirements = pytest.importorskip("packaging.requirements")
META = metadata.metadata("vantrel-mkl")


def mkl_requirement(text):
    requirement = packaging_requirements.Requirement(text)
    assert requirement.name == "mkl"
    return requirement.specifier


def test_pip_shows_the_license():
    shown = subprocess.run([sys.executable, "-m", "pip", "show", "vantrel-mkl"],
                           capture_output=True, text=True, timeout=120)
    if shown.returncode != 0:
        pytest.skip(f"pip does not run here: {shown.stderr.strip()[:200]}")
    license_line, = [line for line in shown.stdout.splitlines() if line.startswith("License")]
    assert license_line.split(":", 1)[1].strip() == "MIT"


@pytest.mark.parametrize("source", ["metadata", "fallback"])
def test_the_runtime_is_admitted_up_to_its_next_major_release(source):
    if source == "metadata":
        text = next(line for line in metadata.requires("vantrel-mkl") if line.startswith("mkl"))
    else:  # what the import check names when the metadata cannot be read
        text = _runtime.REQUIREMENT
    specifier = mkl_requirement(text)
    admitted = ["2026.0.0", "2026.2.1", "2026.3.0", "2026.10.2"]
    refused = ["2025.3.1", "2026.2.0", "2027.0.0"]
    assert [v for v in admitted + refused if specifier.contains(v)] == admitted


def test_the_fallback_requirement_is_the_metadatas():
    text = next(line for line in metadata.requires("vantrel-mkl") if line.startswith("mkl"))
    assert mkl_requirement(_runtime.REQUIREMENT) == mkl_requirement(text)


def test_the_project_links_name_home_documentation_source_and_issues():
    links = dict(line.split(", ", 1) for line in META.get_all("Project-URL"))
    assert set(links) == {"Homepage", "Documentation", "Source", "Issues"}
    assert all(url.startswith("https://") for url in links.values())
    assert META["Author"]
