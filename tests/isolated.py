"""A script run in a fresh interpreter, for tests whose failure would end the process:
a crash there fails the one test that ran it, with what the process wrote."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap

# Under the sanitizer build the suite runs with AddressSanitizer preloaded.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


def run_isolated(script: str, env: dict | None = None, asan_options: str = "",
                 timeout: float = 300) -> subprocess.CompletedProcess:
    """Runs `script` with this interpreter; `asan_options` are added to the sanitizer's
    for that run (an allocation it cannot serve then fails as malloc would, instead of
    ending the process)."""
    environment = {**os.environ, **(env or {})}
    if asan_options:
        environment["ASAN_OPTIONS"] = ":".join(
            filter(None, [environment.get("ASAN_OPTIONS"), asan_options]))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=environment,
                          capture_output=True, text=True, timeout=timeout)


def report(run: subprocess.CompletedProcess) -> str:
    return f"exit status {run.returncode}\n{run.stdout}\n{run.stderr}"
