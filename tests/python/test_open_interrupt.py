"""open(path) and signals: a signal that interrupts a waiting system call runs its Python handler
at once. A handler that raises (Ctrl-C's KeyboardInterrupt) ends open with that exception and
nothing held; one that returns lets open try again.

A slow network file system is stood in for by a preloaded shim (open_shim.c) whose first open of
one path waits for a signal and fails with EINTR. Each case runs in a child interpreter."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

from tagatlas.writer import Entry, write

TESTS = pathlib.Path(__file__).parent

CHILD = """
import ctypes, signal, sys
path, shim, tests, raising = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4] == "raise"
sys.path.insert(0, tests)
import tagatlas
from proc_files import held_by_this_process

shim = ctypes.CDLL(shim)
interrupted_opens = shim.shim_interrupted_opens
raised = []

def handler(signum, frame):
    # Signals that come before the shim waits are ignored; the timer repeats until one has
    # interrupted the open, so no signal can be lost between arming the timer and waiting.
    if raised or interrupted_opens() == 0:
        return
    signal.setitimer(signal.ITIMER_REAL, 0)
    raised.append(KeyboardInterrupt() if raising else None)
    if raising:
        raise raised[0]

signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
try:
    d = tagatlas.open(path)
    outcome = f"opened {len(d)}"
    del d
except KeyboardInterrupt as e:
    outcome = "the handler's KeyboardInterrupt" if e is raised[0] else "another KeyboardInterrupt"
finally:
    signal.setitimer(signal.ITIMER_REAL, 0)
print(outcome, shim.shim_opens(), len(raised), *held_by_this_process(path), sep=", ")
"""


@pytest.fixture(scope="module")
def shim(tmp_path_factory):
    compiler = shutil.which("cc")
    if compiler is None:
        pytest.skip("no C compiler (cc) to build the open shim")
    built = tmp_path_factory.mktemp("shim") / "open_shim.so"
    # Not under the sanitizer runtimes that the sanitized run preloads: they would check the
    # compiler itself.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    done = subprocess.run(
        [compiler, "-shared", "-fPIC", "-o", str(built), str(TESTS / "open_shim.c"), "-ldl"],
        capture_output=True, text=True, env=env, timeout=120,
    )  # fmt: skip
    assert done.returncode == 0, done.stderr
    return built


@pytest.mark.parametrize(
    "handler, expected",
    [
        # outcome, opens of the file (the interrupted one included), handler calls, descriptors
        # and mappings of the file left
        ("raise", "the handler's KeyboardInterrupt, 1, 1, 0, 0"),
        ("return", "opened 2, 2, 1, 0, 0"),
    ],
)  # fmt: skip
def test_signal_during_open(tmp_path, shim, handler, expected):
    path = tmp_path / "slow.tatl"
    write(path, [Entry(0x0008, 0x0020, "StudyDate", "Study Date", "DA"),
                 Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN")])  # fmt: skip
    env = dict(os.environ, TATL_SHIM_PATH=str(path))
    # The sanitized run preloads the sanitizer runtimes, which must stay first.
    env["LD_PRELOAD"] = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), str(shim)]))
    done = subprocess.run(
        [sys.executable, "-c", CHILD, str(path), str(shim), str(TESTS), handler],
        capture_output=True, text=True, env=env, timeout=120,
    )  # fmt: skip
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == expected
