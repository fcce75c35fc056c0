"""Sphinx configuration of the vantrel-mkl documentation.

Built from the installed package (``python -m pip install ".[test,docs]"``):

    python -m sphinx -W --keep-going -b html docs docs/_build/html
    python -m sphinx -W --keep-going -b doctest docs docs/_build/doctest

The reference is written from the installed catalogue at each build
(``_ext/vm_reference.py``); nothing is fetched from the network.
"""

import doctest
import sys
from importlib import metadata
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent / "_ext"))

project = "vantrel-mkl"
author = "The vantrel-mkl developers"
copyright = "the vantrel-mkl developers"
release = metadata.version("vantrel-mkl")
version = release

extensions = ["sphinx.ext.doctest", "myst_parser", "vm_reference"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "reference/generated/*.inc"]
html_theme = "alabaster"
html_theme_options = {"description": "Intel MKL's vector math for Python and NumPy"}
# The pages of the operations are written at build time: their sources are no help.
html_copy_source = False
html_show_sourcelink = False

# Every example runs as a doctest (``-b doctest``) against the installed package.
doctest_global_setup = """
import numpy as np
from vantrel.mkl import vm
try:
    import numba
except ImportError:
    numba = None
"""
doctest_default_flags = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
