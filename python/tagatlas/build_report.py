"""The build report: per source, what it gave to the merged dictionary and what of it lost.

Columns, per source: `taken` entries the importer gave; `added` merged entries that have at least
one field from it; `lost` firm values of it that a higher-ranked source's value beat; `replaced`
its placeholder or guessed names that another source's firm name replaced; `skipped` source lines
or rows its importer left out (each with its reason under `tagatlas build -v`). Then the merge's
own counts (see `tagatlas.merge.MergeReport`).
"""

from __future__ import annotations

from dataclasses import asdict

COLUMNS = ("taken", "added", "lost", "replaced", "skipped")


def report_counts(result) -> dict:
    """The report of a `build.Build` as plain data (for the inputs manifest and tests)."""
    report = result.report
    skipped = {r.source: len(r.skipped) for r in result.imports}
    per_source = {
        name: {"taken": c.taken, "added": c.added, "lost": c.lost,
               "replaced": c.names_replaced, "skipped": skipped.get(name, 0)}
        for name, c in report.sources.items()
    }  # fmt: skip
    merge = {k: v for k, v in asdict(report).items() if k != "sources"}
    public = sum(1 for e in result.entries if e.creator is None)
    entries = {"public": public, "private": len(result.entries) - public}
    return {"sources": per_source, "merge": merge, "entries": entries}


def report_lines(result) -> list[str]:
    """The report as a table of text lines."""
    counts = report_counts(result)
    width = max([len("source")] + [len(n) for n in counts["sources"]])
    lines = [f"{'source':<{width}}" + "".join(f"{c:>10}" for c in COLUMNS)]
    for name, row in counts["sources"].items():
        lines.append(f"{name:<{width}}" + "".join(f"{row[c]:>10}" for c in COLUMNS))
    merge = counts["merge"]
    lines.append(
        f"entries: {counts['entries']['public']} public, {counts['entries']['private']} private; "
        f"made block offsets {merge['made_block_offsets']}, names from the other form "
        f"{merge['names_from_other_form']}, guesses marked {merge['guesses']}, block-specific "
        f"creator groups {merge['block_specific']}"
    )
    return lines
