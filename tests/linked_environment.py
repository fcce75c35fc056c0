"""An environment's packages and libraries under another prefix, linked rather than
copied, for tests of where and how the package finds the runtime."""

import os
import shutil
import subprocess
import sys

SITE = f"lib/python{sys.version_info[0]}.{sys.version_info[1]}/site-packages"

# A call, then the runtime's libraries mapped into the process, one per line.
PROBE = """
from vantrel.mkl.tessivec import ffi, lib
x, r = ffi.new("double[]", [1.0] * 64), ffi.new("double[64]")
lib.vdExp(64, x, r)
assert r[63] == 2.718281828459045, r[63]
with open("/proc/self/maps") as maps:
    print("\\n".join(line.split(maxsplit=5)[5].strip() for line in maps
                     if len(line.split(maxsplit=5)) == 6))
"""


def linked_copy(environment, prefix, site, leave_out=()):
    """The environment's packages and libraries under another prefix, by links, with
    site-packages at `site` and the records rewritten as pip writes them there."""
    platlib = prefix / site
    platlib.mkdir(parents=True)
    (prefix / "lib").mkdir(exist_ok=True)
    for library in (environment / "lib").glob("*.so*"):  # hard links: the maps name them
        if library.name not in leave_out:
            os.link(library, prefix / "lib" / library.name)
    for entry in (environment / SITE).iterdir():
        if entry.name == "vantrel":  # a copy: the package looks beside its own path
            shutil.copytree(entry, platlib / entry.name, symlinks=True)
        elif entry.name.endswith(".dist-info") and site != SITE:
            shutil.copytree(entry, platlib / entry.name)
            record = platlib / entry.name / "RECORD"
            record.write_text("".join(relocated(line) for line in
                                      record.read_text().splitlines(keepends=True)))
        else:
            (platlib / entry.name).symlink_to(entry)
    return platlib


def probe_without_site(environment, platlib, env=None, arguments=("-c", PROBE)):
    """Runs the environment's interpreter on the linked copy, without site-packages."""
    return subprocess.run([str(environment / "bin/python"), "-S", *arguments],
                          capture_output=True, text=True, cwd="/",
                          env={"PATH": os.environ["PATH"], "PYTHONPATH": str(platlib),
                               **(env or {})})


def relocated(line):
    """A RECORD line of <prefix>/lib/pythonX.Y/site-packages as pip writes it for
    <prefix>/lib64/pythonX.Y/site-packages: files in <prefix>/lib move one level."""
    if line.startswith("../../") and not line.startswith("../../../"):
        return "../../../lib/" + line[len("../../"):]
    return line
