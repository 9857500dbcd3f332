"""The README runs as written: its shell sessions and its Python sessions print what it shows.

Every fenced block of README.md whose lines start with `$ ` is a shell session: each command runs
in bash from the repository's root with the project venv first on PATH (what `source
.venv/bin/activate` gives), and what it prints, stdout and stderr together, must be the lines
that follow it up to the next command. A line `...` stands for any number of lines. Every block
with `>>>` prompts runs as a doctest from the root, with `...` matching anything.

Commands that set up, install or benchmark are not run; they are listed below with the reason.
"""
from __future__ import annotations

import doctest
import os
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = ROOT / "README.md"

# Command prefixes that are shown but not run, and why.
NOT_RUN = {
    "pip install": "installs packages; the setup commands have done it",
    "bash scripts/": "sets up the machine or runs the suites and benchmarks",
    "python bench/": "a benchmark: its figures change from run to run",
}

# Output is wrapped for a terminal of this width when the command line cannot ask one.
COLUMNS = "100"

_FENCE = re.compile(r"^```(\S*)\s*$")


def blocks(text: str) -> list[tuple[int, list[str]]]:
    """The fenced blocks of a Markdown text: (line number of the first line, its lines)."""
    found, current, start = [], None, 0
    for number, line in enumerate(text.splitlines(), 1):
        if _FENCE.match(line):
            if current is None:
                current, start = [], number + 1
            else:
                found.append((start, current))
                current = None
        elif current is not None:
            current.append(line)
    return found


def sessions(text: str) -> list[tuple[int, list[tuple[str, list[str]]]]]:
    """The shell sessions: per block, its commands with the lines shown after each."""
    result = []
    for start, lines in blocks(text):
        if not any(line.startswith("$ ") for line in lines):
            continue
        commands: list[tuple[str, list[str]]] = []
        for line in lines:
            if line.startswith("$ "):
                commands.append((line[2:], []))
            elif commands:
                commands[-1][1].append(line)
        result.append((start, commands))
    return result


def doctest_blocks(text: str) -> list[tuple[int, str]]:
    return [(start, "\n".join(lines) + "\n") for start, lines in blocks(text)
            if any(line.startswith(">>> ") for line in lines)]


def matches(expected: list[str], actual: list[str]) -> bool:
    """Whether the lines shown match the lines printed, a line `...` standing for any lines."""
    expected = [line.rstrip() for line in expected]
    actual = [line.rstrip() for line in actual]
    if "..." not in expected:
        return expected == actual
    pieces: list[list[str]] = [[]]
    for line in expected:
        if line == "...":
            pieces.append([])
        else:
            pieces[-1].append(line)
    first, *middle, last = pieces
    if actual[:len(first)] != first or len(actual) < len(first) + len(last):
        return False
    end = len(actual) - len(last)
    if last and actual[end:] != last:
        return False
    at = len(first)
    for piece in middle:
        while at + len(piece) <= end and actual[at:at + len(piece)] != piece:
            at += 1
        if at + len(piece) > end:
            return False
        at += len(piece)
    return True


def skipped(command: str) -> str | None:
    return next((why for prefix, why in NOT_RUN.items() if command.startswith(prefix)), None)


def _environment() -> dict[str, str]:
    env = dict(os.environ)
    venv_bin = pathlib.Path(sys.executable).parent
    env["PATH"] = f"{venv_bin}{os.pathsep}{env.get('PATH', '')}"
    env["VIRTUAL_ENV"] = str(venv_bin.parent)
    env["COLUMNS"] = COLUMNS
    env.pop("PYTHONPATH", None)
    return env


_TEXT = README.read_text(encoding="utf-8")
_SESSIONS = sessions(_TEXT)
_DOCTESTS = doctest_blocks(_TEXT)


def test_the_readme_has_sessions_to_run():
    runnable = [c for _, commands in _SESSIONS for c, _ in commands if not skipped(c)]
    assert runnable and _DOCTESTS, "no README block would run"


@pytest.mark.parametrize("start,commands", _SESSIONS, ids=[f"README.md:{s}" for s, _ in _SESSIONS])
def test_shell_session(start, commands):
    env = _environment()
    for command, shown in commands:
        if skipped(command):
            continue
        run = subprocess.run(["bash", "-c", command], cwd=ROOT, env=env, capture_output=True,
                             text=True, timeout=300, stdin=subprocess.DEVNULL)
        printed = (run.stdout + run.stderr).splitlines()
        assert matches(shown, printed), (
            f"README.md near line {start}: `$ {command}` printed:\n" + "\n".join(printed))


@pytest.mark.parametrize("start,source", _DOCTESTS, ids=[f"README.md:{s}" for s, _ in _DOCTESTS])
def test_python_session(start, source, monkeypatch):
    monkeypatch.chdir(ROOT)
    parser = doctest.DocTestParser()
    test = parser.get_doctest(source, {"__name__": "__readme__"}, f"README.md:{start}",
                              str(README), start - 1)
    flags = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
    runner = doctest.DocTestRunner(optionflags=flags)
    report: list[str] = []
    runner.run(test, out=report.append)
    assert runner.failures == 0, "".join(report)


@pytest.mark.parametrize("shown,printed,expected", [
    (["a", "b"], ["a", "b"], True),
    (["a", "b"], ["a", "b", "c"], False),
    (["a", "...", "c"], ["a", "c"], True),
    (["a", "...", "c"], ["a", "x", "y", "c"], True),
    (["a", "...", "c"], ["a", "x", "c", "d"], False),
    (["...", "b", "...", "d"], ["a", "b", "c", "d"], True),
    (["...", "c", "...", "b"], ["a", "b", "c"], False),
    (["a", "...", "a"], ["a"], False),
])
def test_a_dots_line_stands_for_any_lines(shown, printed, expected):
    assert matches(shown, printed) is expected
