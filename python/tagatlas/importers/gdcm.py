"""Importer for GDCM's private dictionary table (`gdcmPrivateDefaultDicts.cxx`).

The file is C++: an array `DICOMV3DataDict` of `{group, element, "creator", VR::XX, VM::VMn,
"name", retired}` initialisers. The reader tokenises the array as the compiler would, so rows
inside `//` and `/* */` comments are not rows, and strings keep their escapes; the closing
sentinel rows (group and element 0xFFFF) are not entries. Every element is a block offset (GDCM
stores private tags by their low byte).

Fields: name as written (GDCM's placeholders "?" and its guesses "?like this?" are kept; the merge
decides what is firm), VR from `VR::XX` (`US_SS` is the choice "US or SS"), VM from `VM::VM1_n`
("1-n"), retired from the last field. There is no keyword.
"""

from __future__ import annotations

import os
import re

from .lines import source_lines
from .private_rows import private_candidates
from .result import Candidate, ImportResult, Skip, SourceError, select

SOURCE = "gdcm"

_ARRAY = re.compile(r"DICOMV3DataDict\s*\[\s*\]\s*=\s*\{")
_TOKEN = re.compile(
    r'"(?:[^"\\\n]|\\.)*"|//[^\n]*|/\*.*?\*/|\s+|[{},]|[^\s{},"/]+|/', re.S
)  # fmt: skip
_VM = re.compile(r"VM::VM(\d+)(?:_(\d*)(n?))?")
_ESCAPES = {"\\\\": "\\", '\\"': '"', "\\n": "\n", "\\t": "\t"}


def _string(token: str, where: str) -> str:
    if not (len(token) >= 2 and token[0] == token[-1] == '"'):
        raise SourceError(f"{where}: expected a string, found {token[:40]!r}")
    return re.sub(r"\\.", lambda m: _ESCAPES.get(m.group(), m.group()[1:]), token[1:-1])


def _vm(token: str, where: str) -> str:
    m = _VM.fullmatch(token)
    if m is None:
        raise SourceError(f"{where}: bad VM {token!r}")
    low, high, n = m.groups()
    if high is None:
        return low
    return f"{low}-{high}{n}" if high else f"{low}-n"


def rows(text: str, name: str) -> list[tuple[int, list[str]]]:
    """The initialisers of the dictionary array: (line number, tokens) each."""
    start = _ARRAY.search(text)
    if start is None:
        raise SourceError(f"{name}: no DICOMV3DataDict array")
    out: list[tuple[int, list[str]]] = []
    current: list[str] | None = None
    line = text.count("\n", 0, start.end()) + 1
    for m in _TOKEN.finditer(text, start.end()):
        token = m.group()
        here = line
        line += token.count("\n")
        if token[0].isspace() or token.startswith(("//", "/*")) or token == ",":
            continue
        if token == "{":
            if current is not None:
                raise SourceError(f"{name}:{here}: nested initialiser")
            current = []
            row_line = here
        elif token == "}":
            if current is None:
                return out  # the end of the array
            out.append((row_line, current))
            current = None
        elif current is None:
            raise SourceError(f"{name}:{here}: {token[:40]!r} outside an initialiser")
        else:
            current.append(token)
    raise SourceError(f"{name}: the array does not end")


def import_gdcm(paths, *, source: str = SOURCE) -> ImportResult:
    """Reads GDCM's table(s). Raises OSError or SourceError (with file and line)."""
    candidates: list[Candidate] = []
    skipped: list[Skip] = []
    for path in paths:
        name = os.fspath(path)
        # Each line within the limit; the tokens are read from the text they make.
        text = "\n".join(line for _, line in source_lines(path))
        for number, tokens in rows(text, name):
            where = f"{name}:{number}"
            if len(tokens) != 7:
                raise SourceError(f"{where}: {len(tokens)} fields, expected 7")
            group_t, element_t, creator_t, vr_t, vm_t, name_t, retired_t = tokens
            try:
                group, element = int(group_t, 16), int(element_t, 16)
            except ValueError:
                raise SourceError(f"{where}: bad tag {group_t} {element_t}") from None
            if group == element == 0xFFFF:
                continue  # the table's end markers
            if not vr_t.startswith("VR::") or retired_t not in ("true", "false"):
                raise SourceError(f"{where}: bad VR {vr_t!r} or retired flag {retired_t!r}")
            if group % 2 == 0 or element > 0xFF:
                skipped.append(Skip(where, f"({group:04X},{element:04X}) is no private block offset"))
                continue
            candidates += private_candidates(
                f"{group:04X}", element, _string(creator_t, where), origin=where, source=source,
                name=_string(name_t, where), vr=vr_t[4:], vm=_vm(vm_t, where),
                retired=retired_t == "true",
            )  # fmt: skip
    return select(source, candidates, skipped, later_wins=False)
