"""The extension module: its public names, the function open, repeated initialisation and the rule
that builds __all__."""

import importlib
import importlib.metadata
import importlib.util
import pathlib
import re
import subprocess
import sys
import types

import pytest

import tagatlas
from tagatlas import _tagatlas

OPEN_DOC = ("Open a `.tatl` file. Raises `IOError` on missing file or corruption,\n"
            "`ValueError` on unsupported version.")  # fmt: skip


def test_public_names():
    assert _tagatlas.__name__ == "tagatlas._tagatlas"
    assert _tagatlas.__doc__ == ""
    assert isinstance(_tagatlas.__version__, str)
    assert _tagatlas.__all__ == ["Dict", "open", "__version__"]
    assert type(_tagatlas.__all__) is list
    assert isinstance(_tagatlas.Dict, type)
    public = {name for name in dir(_tagatlas) if not name.startswith("__")}
    assert public == {"Dict", "open"}


def test_open_function():
    f = _tagatlas.open
    assert type(f).__name__ == "builtin_function_or_method"
    assert f.__name__ == "open"
    assert f.__qualname__ == "open"
    assert f.__self__ is None
    assert f.__module__ == "tagatlas._tagatlas"
    assert f.__text_signature__ == "(path)"
    assert f.__doc__ == OPEN_DOC


def fresh_module(name="tagatlas._tagatlas", origin=None, prepare=None):
    """A new module object made from the extension, with `prepare` run on it before its exec."""
    origin = origin or _tagatlas.__file__
    found = importlib.util.spec_from_file_location(name, origin)
    module = importlib.util.module_from_spec(found)
    if prepare is not None:
        prepare(module)
    found.loader.exec_module(module)
    return module


def test_reimport_keeps_the_class(monkeypatch, sample_path):
    monkeypatch.delitem(sys.modules, "tagatlas._tagatlas")
    again = importlib.import_module("tagatlas._tagatlas")
    assert again is not _tagatlas
    assert again.Dict is _tagatlas.Dict
    assert again.open is not _tagatlas.open
    assert again.__all__ == ["Dict", "open", "__version__"]
    assert type(again.open(sample_path)) is _tagatlas.Dict


def test_module_name_follows_the_import_name(sample_path):
    module = fresh_module("elsewhere._tagatlas")
    assert module.__name__ == "elsewhere._tagatlas"
    assert module.open.__module__ == "elsewhere._tagatlas"
    assert module.Dict is _tagatlas.Dict
    assert module.Dict.__module__ == "tagatlas._tagatlas"
    assert len(module.open(sample_path)) == 9


def test_existing_all_list_is_extended():
    module = fresh_module(prepare=lambda m: setattr(m, "__all__", ["first"]))
    assert module.__all__ == ["first", "Dict", "open", "__version__"]


def test_all_of_a_list_subclass_is_used():
    class Names(list):
        pass

    names = Names()
    module = fresh_module(prepare=lambda m: setattr(m, "__all__", names))
    assert module.__all__ is names
    assert names == ["Dict", "open", "__version__"]


def test_all_that_is_not_a_list_fails_the_import():
    with pytest.raises(TypeError) as info:
        fresh_module(prepare=lambda m: setattr(m, "__all__", ("first",)))
    assert info.value.args == ("'tuple' object is not an instance of 'list'",)


def with_all_property(getter, setter=None):
    def prepare(module):
        class Guarded(types.ModuleType):
            __all__ = property(getter, setter)

        module.__class__ = Guarded

    return prepare


def test_error_reading_all_fails_the_import():
    def broken(module):
        raise LookupError("cannot read")

    with pytest.raises(LookupError, match="cannot read"):
        fresh_module(prepare=with_all_property(broken))


def test_attribute_error_reading_all_creates_the_list():
    store = {}

    def getter(module):
        if "all" not in store:
            raise AttributeError("not yet")
        return store["all"]

    def setter(module, value):
        store["all"] = value

    module = fresh_module(prepare=with_all_property(getter, setter))
    assert store["all"] == ["Dict", "open", "__version__"]
    assert module.open.__name__ == "open"


def test_failure_to_set_all_fails_the_import():
    def missing(module):
        raise AttributeError("missing")

    with pytest.raises(AttributeError):
        fresh_module(prepare=with_all_property(missing))


def test_only_init_function_is_exported():
    nm = subprocess.run(["nm", "-D", "--defined-only", _tagatlas.__file__],
                        capture_output=True, text=True, check=False)  # fmt: skip
    if nm.returncode != 0:
        pytest.skip("nm is not available")
    symbols = [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit__tagatlas"]


def test_package_reexports():
    assert tagatlas.open is _tagatlas.open
    assert tagatlas.Dict is _tagatlas.Dict
    assert tagatlas.__version__ is _tagatlas.__version__
    assert {"Dict", "open", "__version__", "PanicException"} <= set(tagatlas.__all__)
    assert issubclass(tagatlas.PanicException, BaseException)


REPO = pathlib.Path(__file__).resolve().parents[2]


def test_version_comes_from_one_place():
    cmake = (REPO / "CMakeLists.txt").read_text()
    [version] = re.findall(r"project\(\s*tagatlas\s+VERSION\s+([0-9.]+)", cmake)
    assert _tagatlas.__version__ == version
    assert importlib.metadata.version("tagatlas") == version
    # Nowhere else is it written out.
    for path in ("pyproject.toml", "python/module.cc"):
        assert version not in (REPO / path).read_text(), path
