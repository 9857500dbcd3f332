"""Sub-interpreters: the module refuses to load in any interpreter but the main one, since its
class objects, interned names and result template are made once per process and must not be used
by another interpreter. The main interpreter's module keeps working. Each scenario runs in a new
process, as a crash there must not take the test run with it."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import tatl_layout as layout
from tagatlas.writer import Entry, encode

pytest.importorskip("_interpreters", reason="needs CPython's _interpreters module (3.13)")

REFUSAL = "module {} does not support loading in subinterpreters"

ENTRIES = [
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", sources=("dicom",)),
    Entry(0x0029, 0x0010, "AcmeThing", "Acme Thing", "LO", creator="Acme CT"),
]

# id: arguments of _interpreters.new_config: the base configuration's name, then fields changed
CONFIGS = {
    # Shared GIL and allocator, no check of extensions: what Py_NewInterpreter() makes.
    "legacy": {"name": "legacy"},
    # Own GIL and allocator; extensions must declare that they support it.
    "isolated": {"name": "isolated"},
    "legacy, extensions checked": {"name": "legacy", "check_multi_interp_extensions": True},
    "own allocator, shared GIL": {"name": "isolated", "gil": "shared"},
}

# Code run in the new process before the scenario. `in_sub(config, code)` runs code in a new
# sub-interpreter and returns None, or [module, class name, message] of the exception that ended it;
# `report(**values)` hands values back to the test.
PRELUDE = """
import json, sys, _interpreters

def in_sub(config, code):
    config = dict(config)
    interp = _interpreters.create(_interpreters.new_config(config.pop("name"), **config))
    try:
        error = _interpreters.run_string(interp, code)
    finally:
        _interpreters.destroy(interp)
    return None if error is None else [error.type.__module__, error.type.__name__, error.msg]

def report(**values):
    print(json.dumps(values))
"""

# In the main interpreter: open, a public and a private hit, a fault.
USE_IN_MAIN = """
import tagatlas
d = tagatlas.open(GOOD)
try:
    tagatlas.open(DAMAGED).lookup(0x0010, 0x0010)
except tagatlas.PanicException as e:
    fault = str(e)
main = dict(len=len(d), keyword=d.lookup(0x0010, 0x0010)["keyword"],
            private=d.lookup(0x0029, 0x0010, "ACME  ct")["keyword"], fault=fault)
"""

EXPECTED_MAIN = {
    "len": 2,
    "keyword": "PatientName",
    "private": "AcmeThing",
    "fault": "index out of bounds: the len is 2 but the index is 2",
}

# In a sub-interpreter: a second attempt after a refused one, and what the refusal leaves behind.
IMPORT_AGAIN = """
import sys
try:
    import tagatlas
except ImportError:
    pass
assert "tagatlas._tagatlas" not in sys.modules
import tagatlas._tagatlas
"""


def run_python(*pieces, **names):
    """Runs PRELUDE, the assignments `names`, then `pieces` in a new process; returns its report."""
    assignments = "".join(f"{name} = {value!r}\n" for name, value in names.items())
    code = PRELUDE + assignments + "".join(textwrap.dedent(piece) for piece in pieces)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=dict(os.environ), timeout=120)  # fmt: skip
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


@pytest.fixture
def files(tmp_path):
    good = tmp_path / "good.tatl"
    good.write_bytes(encode(ENTRIES))
    data = bytearray(encode(ENTRIES))
    layout.patch_index(data, 0, record_index=len(ENTRIES))
    damaged = tmp_path / "damaged.tatl"
    damaged.write_bytes(data)
    return {"GOOD": str(good), "DAMAGED": str(damaged)}


REFUSED = ["builtins", "ImportError", REFUSAL.format("tagatlas._tagatlas")]


@pytest.mark.parametrize("config", CONFIGS.values(), ids=CONFIGS.keys())
def test_refused_before_the_main_interpreter_imports_it(files, config):
    # Nothing process-wide may be made in the sub-interpreter: the main interpreter's first import
    # afterwards makes everything itself.
    result = run_python(
        """
        assert "tagatlas" not in sys.modules
        first = in_sub(CONFIG, "import tagatlas")
        again = in_sub(CONFIG, IMPORT_AGAIN)
        """,
        USE_IN_MAIN,
        "report(first=first, again=again, main=main)\n",
        CONFIG=config, IMPORT_AGAIN=IMPORT_AGAIN, **files,
    )  # fmt: skip
    assert result == {"first": REFUSED, "again": REFUSED, "main": EXPECTED_MAIN}


@pytest.mark.parametrize("config", CONFIGS.values(), ids=CONFIGS.keys())
def test_refused_after_the_main_interpreter_uses_it(files, config):
    result = run_python(
        USE_IN_MAIN,
        """
        before, dict_class, kept = main, tagatlas.Dict, d
        error = in_sub(CONFIG, "import tagatlas")
        """,
        USE_IN_MAIN,
        """
        report(error=error, before=before, main=main, same_class=tagatlas.Dict is dict_class,
               kept=kept.lookup(0x0029, 0x0010, "acme ct")["keyword"])
        """,
        CONFIG=config, **files,
    )  # fmt: skip
    assert result == {"error": REFUSED, "before": EXPECTED_MAIN, "main": EXPECTED_MAIN,
                      "same_class": True, "kept": "AcmeThing"}  # fmt: skip


@pytest.mark.parametrize("config", CONFIGS.values(), ids=CONFIGS.keys())
def test_refusal_names_the_module_as_imported(config):
    # The extension loaded from its file under another name is refused under that name.
    load_renamed = (
        "import importlib.util\n"
        "found = importlib.util.spec_from_file_location('elsewhere._tagatlas', FILE)\n"
        "found.loader.exec_module(importlib.util.module_from_spec(found))\n"
    )
    result = run_python(
        """
        from tagatlas import _tagatlas
        error = in_sub(CONFIG, f"FILE = {_tagatlas.__file__!r}\\n" + LOAD_RENAMED)
        report(error=error)
        """,
        CONFIG=config, LOAD_RENAMED=load_renamed,
    )  # fmt: skip
    assert result["error"] == ["builtins", "ImportError", REFUSAL.format("elsewhere._tagatlas")]


def test_refused_in_an_interpreter_made_by_py_new_interpreter():
    # Py_NewInterpreter(), which embedding applications call, makes a legacy sub-interpreter.
    pytest.importorskip("_testcapi", reason="needs CPython's _testcapi module")
    code = "import _testcapi; print(_testcapi.run_in_subinterp('import tagatlas'))"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=dict(os.environ), timeout=120)  # fmt: skip
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["-1"]
    assert done.stderr.rstrip().endswith("ImportError: " + REFUSAL.format("tagatlas._tagatlas"))
