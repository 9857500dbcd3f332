"""The files to read for the paths given on the command line.

A path given is read whatever it is (a folder is walked, anything else is opened and refused if it
is not a regular file). Inside a folder, files are taken in name order, folders are walked, and
what cannot be DICOM data is skipped without being opened: FIFOs, sockets, devices, symbolic links
that lead to a folder (so that a link cannot lead the walk in a loop) or nowhere.
"""

from __future__ import annotations

import os
import stat
from collections.abc import Iterable, Iterator
from typing import NamedTuple

from .._format.filekind import file_kind

__all__ = ["Input", "Skipped", "Unlisted", "walk"]


class Input(NamedTuple):
    """A file to read; `named` when it was given on the command line, not found in a folder."""

    path: str
    named: bool


class Skipped(NamedTuple):
    """Something in a folder that is not read, and why."""

    path: str
    reason: str


class Unlisted(NamedTuple):
    """A folder whose entries could not be read, and the system's reason."""

    path: str
    reason: str


def walk(paths: Iterable[str]) -> Iterator[Input | Skipped | Unlisted]:
    """Each path given, with every folder among them replaced by what it holds, depth first."""
    for path in paths:
        if os.path.isdir(path):
            yield from _folder(path)
        else:
            yield Input(path, True)


def _folder(top: str) -> Iterator[Input | Skipped | Unlisted]:
    # A stack of the folders being listed, so that depth costs no Python frames.
    stack = [_entries(top)]
    while stack:
        for found in stack[-1]:
            if isinstance(found, str):
                stack.append(_entries(found))
                break
            yield found
        else:
            stack.pop()


def _entries(folder: str) -> Iterator[str | Input | Skipped | Unlisted]:
    """The entries of one folder in name order: a subfolder as its path, the rest classified."""
    try:
        with os.scandir(folder) as listing:
            entries = sorted(listing, key=lambda e: e.name)
    except OSError as e:
        yield Unlisted(folder, e.strerror or str(e))
        return
    for entry in entries:
        try:
            if entry.is_dir(follow_symlinks=False):
                yield entry.path
                continue
            mode = entry.stat(follow_symlinks=False).st_mode
            if stat.S_ISLNK(mode):
                mode = os.stat(entry.path).st_mode
                if stat.S_ISDIR(mode):
                    yield Skipped(entry.path, "a symbolic link to a folder")
                    continue
        except OSError:
            yield Skipped(entry.path, "a symbolic link that leads nowhere")
            continue
        if stat.S_ISREG(mode):
            yield Input(entry.path, False)
        else:
            yield Skipped(entry.path, file_kind(mode))
