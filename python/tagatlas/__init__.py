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
from ._bundled import open_default

__all__ = ["Dict", "open", "open_default", "__version__", "PanicException"]

# Declared for type checkers; the value is made on first access by __getattr__ below.
PanicException: type[BaseException]

def _faulty_dictionary() -> bytes:
    """A tiny dictionary whose one index entry (hash 0, tag 0000,0000) names record 0 of none.

    Looking it up is the one way to make the extension raise its fault exception.
    """
    from ._format import layout

    index_at = layout.HEADER_SIZE
    root_at = index_at + layout.INDEX_ENTRY_SIZE
    return (
        layout.header()
        + layout.INDEX_ENTRY.pack(0, 0, 0, 0)
        + layout.root_fields(root_at, index_at, 1, root_at, 0, root_at, 0)
    )


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
            os.write(fd, _faulty_dictionary())
            faulty = open(f"/proc/self/fd/{fd}")
        finally:
            os.close(fd)
    else:
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "fault.tatl")
            with builtins.open(path, "wb") as f:
                f.write(_faulty_dictionary())
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

