"""Rebinding pydicom's dictionary functions to tagatlas's, and back.

pydicom's modules import the `pydicom.datadict` functions by name (`dataset`, `dataelem`,
`filereader` with its `_dictionary_vr_fast`, `hooks`, `fileutil`, `fileset`, `tag`, `util.codify`,
`util.leanread`, ...), so replacing the functions in `pydicom.datadict` alone would leave their
copies answering from pydicom's tables. `install` therefore replaces every global of every loaded
`pydicom` module that *is* one of pydicom's functions, and `pydicom.datadict`'s own. A module
imported later copies the names from `pydicom.datadict`, which holds tagatlas's functions by
then, so it needs no hook. `uninstall` puts pydicom's functions back wherever a `pydicom` module
holds one of tagatlas's.

`keyword_dict` becomes tagatlas's keyword map, which is read on first access (through a module
`__getattr__` of `pydicom.datadict`), not at `install`: reading it costs milliseconds and pydicom
itself never reads the map once `tag_for_keyword` is tagatlas's. pydicom's tables
(`DicomDictionary`, `RepeatersDictionary`, `private_dictionaries`, `masks`, `REPEATER_KEYWORDS`)
are left as they are.
"""

from __future__ import annotations

import sys
import threading
from types import ModuleType

from .. import datadict
from . import functions

_lock = threading.RLock()
# While installed: pydicom's function of each replaced name, and pydicom's own keyword map.
_originals: dict[str, object] = {}
_state: dict[str, object] = {}


def pydicom_datadict() -> ModuleType:
    try:
        import pydicom.datadict
    except ImportError as e:
        raise ImportError(
            "tagatlas.datadict.install_in_pydicom needs pydicom: "
            "pip install 'tagatlas[dicom]'"
        ) from e
    return pydicom.datadict


def pydicom_keyword_dict() -> dict:
    """pydicom's own keyword map, also while tagatlas's stands in for it."""
    if "keyword_dict" in _state:
        return _state["keyword_dict"]
    return pydicom_datadict().keyword_dict


def original(name: str):
    """pydicom's own function `name`, also while tagatlas's stands in for it."""
    return _originals.get(name) or getattr(pydicom_datadict(), name)


def _replacements() -> dict[str, object]:
    out = {name: getattr(datadict, name) for name in functions.SAME}
    out.update(functions.OWN)
    return out


def _pydicom_modules() -> list[ModuleType]:
    return [
        m for name, m in list(sys.modules.items())
        if (name == "pydicom" or name.startswith("pydicom.")) and isinstance(m, ModuleType)
    ]  # fmt: skip


def _swap(old_to_new: dict[int, tuple[object, object]]) -> None:
    """Replaces each global of the pydicom modules that is an `old` value by its `new` one."""
    for module in _pydicom_modules():
        namespace = vars(module)
        for name, value in list(namespace.items()):
            pair = old_to_new.get(id(value))
            if pair is not None and pair[0] is value:
                namespace[name] = pair[1]


def _keyword_dict_getattr(name: str) -> object:
    # pydicom.datadict's module __getattr__ while installed: keyword_dict on first access.
    if name == "keyword_dict":
        keywords = datadict.keyword_dict
        if _state:
            vars(pydicom_datadict())["keyword_dict"] = keywords
        return keywords
    raise AttributeError(f"module 'pydicom.datadict' has no attribute {name!r}")


def install() -> None:
    module = pydicom_datadict()
    with _lock:
        new = _replacements()
        if not _originals:
            namespace = vars(module)
            _originals.update({name: namespace[name] for name in new if name in namespace})
            _state["keyword_dict"] = namespace.pop("keyword_dict")
            _state["getattr"] = namespace.get("__getattr__")
            namespace["__getattr__"] = _keyword_dict_getattr
        # Again on a second call: a module may have copied pydicom's functions meanwhile.
        _swap({id(f): (f, new[name]) for name, f in _originals.items()})


def uninstall() -> None:
    if "pydicom" not in sys.modules:
        return
    module = pydicom_datadict()
    with _lock:
        if not _originals:
            return
        new = _replacements()
        _swap({id(new[name]): (new[name], f) for name, f in _originals.items()})
        namespace = vars(module)
        namespace["keyword_dict"] = _state["keyword_dict"]
        if _state["getattr"] is None:
            namespace.pop("__getattr__", None)
        else:
            namespace["__getattr__"] = _state["getattr"]
        _originals.clear()
        _state.clear()


def installed() -> bool:
    return bool(_originals)
