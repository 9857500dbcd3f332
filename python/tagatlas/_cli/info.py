"""`tagatlas info FILE`: a dictionary file's header and counts, and whether it opens.

Only the file's header and root are read (constant memory for any file size), then the file is
opened as a dictionary. FIFOs, devices, sockets and directories are refused at once. Exit status 1
for a file that does not open. When the file's sources manifest sits beside it (`default.tatl` and
`default.sources.json`, see `tagatlas.manifest`), a `built from:` line names the sources' editions.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import stat

from .._format import layout
from .._format.filekind import file_kind
from .command import EXIT_NOT_FOUND, EXIT_OK, CommandError


def add_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("file", metavar="FILE")


def _read_ends(path: str) -> tuple[int, bytes, bytes]:
    """Returns (size, header bytes, root bytes) of a regular file, reading nothing else.

    The file is opened without blocking and its kind checked before any read, so that a FIFO or a
    device is refused at once instead of waiting for a writer or reading forever.
    """
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except OSError as e:
        reason = e.strerror
        # A socket cannot be opened at all; name it rather than the system's error.
        with contextlib.suppress(OSError):
            mode = os.stat(path).st_mode
            if not stat.S_ISREG(mode):
                reason = f"not a regular file ({file_kind(mode)})"
        raise CommandError(f"cannot read {path}: {reason}") from None
    try:
        status = os.fstat(fd)
        if not stat.S_ISREG(status.st_mode):
            raise CommandError(
                f"cannot read {path}: not a regular file ({file_kind(status.st_mode)})"
            )
        size = status.st_size
        header = os.pread(fd, layout.HEADER.size, 0)
        root = b""
        if size >= layout.MIN_FILE_SIZE:
            root = os.pread(fd, layout.ROOT_SIZE, size - layout.ROOT_SIZE)
    except OSError as e:
        raise CommandError(f"cannot read {path}: {e.strerror}") from None
    finally:
        os.close(fd)
    return size, header, root


def run(args: argparse.Namespace) -> int:
    from .._tagatlas import open as open_dict

    size, header, root = _read_ends(args.file)
    print(f"{'file:':<10}{args.file}")
    print(f"{'size:':<10}{size} bytes")
    if len(header) == layout.HEADER.size:
        magic, version = layout.HEADER.unpack(header)
        print(f"{'magic:':<10}{magic.decode('latin-1')!r}")
        print(f"{'version:':<10}{version}")
    if len(root) == layout.ROOT_SIZE:
        # The counts sit in the root, the file's last 24 bytes, whether or not the rest is sound.
        counts = layout.unpack_root(root, size - layout.ROOT_SIZE, 0)
        print(f"{'entries:':<10}{counts.index_count}")
        print(f"{'records:':<10}{counts.records_count}")
        print(f"{'pool:':<10}{counts.pool_length} bytes")
    else:
        print(f"{'entries:':<10}unknown (no root in a file under {layout.MIN_FILE_SIZE} bytes)")
    try:
        open_dict(args.file)
    except (OSError, ValueError) as e:
        print(f"{'opens:':<10}no: {e}")
        return EXIT_NOT_FOUND
    print(f"{'opens:':<10}yes")
    _print_built_from(args.file)
    return EXIT_OK


def _print_built_from(path: str) -> None:
    """The `built from:` line, when a sources manifest sits beside the file."""
    from ..manifest import built_from, manifest_path, read_manifest

    try:
        manifest = read_manifest(path)
    except (OSError, ValueError) as e:
        print(f"{'built from:':<10} unknown: cannot read {manifest_path(path)}: {e}")
        return
    if manifest is not None:
        print(f"{'built from:':<10} {built_from(manifest)}")
