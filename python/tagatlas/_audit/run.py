"""Reading every input of an audit in turn: the rows of each file, and counts of what happened.

A file named on the command line that cannot be explained (missing, not a regular file, neither
DICOM nor DICOM JSON, damaged) is reported and makes the final status 2, as for a single input. In
a folder, a file that is neither DICOM nor DICOM JSON is skipped and counted; one that fails to
read (unreadable, or DICOM that pydicom cannot parse) is reported, counted, and makes the final
status 1. The audit goes on after each of these.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass

from ..explain import ExplainError, Explained, NotDicomError, iter_explain
from .inputs import Input, Skipped, Unlisted, walk
from .progress import Progress

__all__ = ["Counts", "Audit"]

# Rows between two looks at the clock, so that one large file keeps the progress line moving.
_PROGRESS_ROWS = 4096


@dataclass
class Counts:
    read: int = 0
    skipped: int = 0
    failed: int = 0
    elements: int = 0


class Audit:
    """Explains the files of `paths`, one file at a time, with one Namer for all of them.

    `report(line)` receives each problem as one line; `progress` is told what has been done.
    """

    def __init__(
        self, namer, *, private_only: bool = False, report: Callable[[str], None],
        progress: Progress | None = None,
    ) -> None:  # fmt: skip
        self.counts = Counts()
        self._namer = namer
        self._private_only = private_only
        self._report = report
        self._progress = progress or Progress(None)
        self._named_failed = False

    @property
    def status(self) -> int:
        """0 when all went well, 1 when a file found in a folder failed, 2 when a named one did."""
        return 2 if self._named_failed else 1 if self.counts.failed else 0

    def files(self, paths: Iterable[str]) -> Iterator[tuple[str, Iterator[Explained]]]:
        """(path, rows) for each file read; take each file's rows before asking for the next."""
        # The list of paths is made first, so that progress can say how many there are.
        found = list(walk(paths))
        total = sum(isinstance(f, Input) for f in found)
        done = 0
        for item in found:
            if isinstance(item, Skipped):
                self.counts.skipped += 1
                continue
            if isinstance(item, Unlisted):
                self._fail(f"cannot read {item.path}: {item.reason}", named=False)
                continue
            rows = self._open(item)
            if rows is not None:
                self.counts.read += 1
                yield item.path, self._counted(rows, done, total)
            done += 1
            self._progress.update(done, total, self.counts.elements)
        self._progress.clear()

    def _open(self, item: Input) -> Iterator[Explained] | None:
        try:
            return iter_explain(item.path, self._namer, private_only=self._private_only)
        except NotDicomError as e:
            if not item.named:
                self.counts.skipped += 1
                return None
            self._fail(str(e), named=True)
        except ExplainError as e:
            self._fail(str(e), named=item.named)
        except OSError as e:
            self._fail(f"cannot read {os.fsdecode(item.path)}: {e.strerror or e}", item.named)
        return None

    def _fail(self, message: str, named: bool) -> None:
        self.counts.failed += 1
        self._named_failed |= named
        self._progress.clear()
        self._report(message)

    def _counted(self, rows: Iterator[Explained], done: int, total: int) -> Iterator[Explained]:
        counts = self.counts
        for row in rows:
            counts.elements += 1
            if counts.elements % _PROGRESS_ROWS == 0:
                self._progress.update(done, total, counts.elements)
            yield row
