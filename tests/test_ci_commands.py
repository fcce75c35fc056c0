"""CI runs the README's test commands, as the README says: each command of its Test
section, in its order, in .ci/run or in the stage script .ci/run calls for it, in the
virtual environment its Install section makes."""

import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
if not (ROOT / ".ci" / "run").is_file():
    pytest.skip("the tests run outside a source tree", allow_module_level=True)


def readme_commands(heading: str) -> list[str]:
    """The commands of a README section: its lines indented by four spaces."""
    text = (ROOT / "README.md").read_text()
    start = text.index(f"\n## {heading}\n")
    section = text[start:text.index("\n## ", start + 1)]
    return [line[4:] for line in section.splitlines() if re.match(r"    \S", line)]


def ci_commands(script: str = "run") -> list[str]:
    """The commands CI runs, in order, each stage script's in the place .ci/run calls it."""
    commands = []
    for line in (ROOT / ".ci" / script).read_text().splitlines():
        line = line.strip()
        command = re.fullmatch(r"run_test '(.*)'", line)
        line = command.group(1) if command else line
        stage = re.match(r'bash \.ci/(wheel|oldest) ', line)
        commands += ci_commands(stage.group(1)) if stage else [line]
    return commands


def same(command: str) -> str:
    """A command as both spell it: the README's wheelhouse/<wheel> is the stage's $wheel."""
    return command.replace("wheelhouse/<wheel>", "$wheel").replace('"', "")


def test_ci_runs_the_readmes_test_commands_in_their_order():
    # The section's commands up to its word on CI; what follows (characterize.py) prints
    # what the runtime does, and judges nothing.
    section = (ROOT / "README.md").read_text().split("\n## Test\n", 1)[1]
    before = section.split("CI runs exactly these commands", 1)[0]
    readme = [same(c) for c in readme_commands("Test") if f"    {c}\n" in before]
    ci = [same(c) for c in ci_commands()]
    assert readme and "python -m pytest" in readme
    missing = [c for c in readme if c not in ci]
    assert not missing, f".ci/ runs none of these README commands: {missing}"
    positions = [ci.index(c) for c in readme]
    assert positions == sorted(positions), "CI runs the README's commands in another order"


def test_ci_installs_as_the_readme_says():
    install = readme_commands("Install")
    ci = ci_commands()
    assert install[:2] == ci[ci.index(install[0]):][:2]  # the virtual environment
    assert 'python -m pip install ".[test,docs]"' in ci and \
        'install `".[test,docs]"` in place of `.`' in (ROOT / "README.md").read_text()
