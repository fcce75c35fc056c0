"""Runs each recorded_*.py module under pytest in a fresh interpreter with the
recording runtime preloaded in place of libmkl_rt (recording.py); its outcome is that
run's. A test that needs the recording runtime is a test in one of those modules,
taking the ``recorder`` fixture."""

from pathlib import Path

import pytest

from recording import run_recorded

RECORDED_MODULES = sorted(Path(__file__).parent.glob("recorded_*.py"))
REPORT_CHARACTERS = 30_000


@pytest.mark.parametrize("module", RECORDED_MODULES, ids=lambda path: path.stem)
def test_recorded_module_passes(recorder_library, module):
    completed = run_recorded(recorder_library, module)
    if completed.returncode != 0:
        report = (completed.stdout + completed.stderr)[-REPORT_CHARACTERS:]
        pytest.fail(f"{module.name} under the recording runtime (exit status "
                    f"{completed.returncode}):\n{report}", pytrace=False)
