"""Read-only DICOM data-element dictionary lookups from memory-mapped `.tatl` files.

    >>> import tagatlas
    >>> with tagatlas.open("dicom.tatl") as d:
    ...     d.lookup(0x0010, 0x0010)["keyword"]
    'PatientName'

`PanicException` is the class of the error raised when the extension's native code fails
internally (for instance on a damaged reference met during a lookup). It derives from
`BaseException`, so `except Exception:` does not catch it; catch `tagatlas.PanicException`
where a damaged dictionary must not end the program.
"""

from __future__ import annotations

from ._tagatlas import Dict, __version__, open
from .default import open_default

__all__ = ["Dict", "open", "open_default", "__version__", "PanicException"]

# Declared for type checkers; the value is made on first access by __getattr__ below.
PanicException: type[BaseException]

# A tiny dictionary whose one index entry names a record that does not exist: looking it up is the
# one way to make the extension raise its fault exception. Header "TATL" v2, the entry (hash 0,
# record 0, tag 0000,0000) at 32, then the root at 44: index at -12 (1 entry), records at -8 (0),
# pool at -16 (0 bytes).
_FAULTY_DICTIONARY = (
    b"TATL\x02\x00" + bytes(26)
    + bytes(12)
    + (-12).to_bytes(4, "little", signed=True) + (1).to_bytes(4, "little")
    + (-8).to_bytes(4, "little", signed=True) + bytes(4)
    + (-16).to_bytes(4, "little", signed=True) + bytes(4)
)  # fmt: skip


def _panic_exception_class() -> type[BaseException]:
    """Returns the extension's fault class by provoking one fault on an in-memory dictionary.

    The extension creates the class once per process and does not export it, so the class caught
    here is the very class every later fault raises.
    """
    import builtins
    import os
    import tempfile

    if hasattr(os, "memfd_create"):
        fd = os.memfd_create("tagatlas-fault", os.MFD_CLOEXEC)
        try:
            os.write(fd, _FAULTY_DICTIONARY)
            faulty = open(f"/proc/self/fd/{fd}")
        finally:
            os.close(fd)
    else:
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "fault.tatl")
            with builtins.open(path, "wb") as f:
                f.write(_FAULTY_DICTIONARY)
            faulty = open(path)
    try:
        faulty.lookup(0, 0)
    except BaseException as fault:
        if type(fault).__name__ != "PanicException":
            raise
        return type(fault)
    raise RuntimeError("the extension did not report the damaged index entry")


def __getattr__(name: str) -> object:
    if name == "PanicException":
        cls = _panic_exception_class()
        globals()["PanicException"] = cls
        return cls
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")

