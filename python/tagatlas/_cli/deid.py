"""The de-identification facts on the command line: `lookup`'s `deid:` line and `explain --deid`.

`lookup` shows the Basic Profile's action and the options that change it,
`deid:         Z (retain-patient-characteristics: K)`, in JSON `{"basic": "Z", "options":
{"retain-patient-characteristics": "K"}}`; "unknown" (JSON null) when the dictionary carries no
facts, "not listed (kept)" (JSON basic null) for a public attribute the profile does not list.

`explain --deid [--deid-option NAME]...` gives each element its action under the Basic Profile
with the options applied, and ends the text output with a summary: the elements by action, the
private elements kept as safe and removed, and the creators the dictionary does not know.
"""

from __future__ import annotations

from collections import Counter

from .command import CommandError

NOT_LISTED = "not listed (kept)"


def profile_of(d, path: str | None):
    """The facts of an opened dictionary (the process's one profile for the bundled one)."""
    from .. import deid

    return deid._profile(None) if path is None else deid.Profile(d)


def lookup_facts(profile, entry: dict) -> tuple[str, dict | None]:
    """(the `deid:` line's value, the JSON value) for a found entry."""
    if not profile.has_facts:
        return "unknown", None
    codes = profile.entry_codes(entry)
    if codes is None:
        return NOT_LISTED, {"basic": None, "options": {}}
    basic, options = codes
    changed = ", ".join(f"{name}: {code}" for name, code in options.items())
    return (f"{basic} ({changed})" if changed else basic), {"basic": basic, "options": options}


def checked_options(names: list[str] | None) -> frozenset[str]:
    from ..deid import check_options

    try:
        return check_options(names or ())
    except ValueError as e:
        raise CommandError(f"--deid-option: {e}") from None


def actions(profile, rows, options: frozenset[str]) -> list[str | None]:
    """Each explained row's action code, None where the profile lists nothing (or knows nothing)."""
    out = []
    for r in rows:
        group, element = int(r.tag[:4], 16), int(r.tag[5:], 16)
        out.append(profile.action(group, element, r.creator, options=options))
    return out


def summary_lines(profile, rows, codes: list[str | None], options: frozenset[str]) -> list[str]:
    """The closing summary of `explain --deid`."""
    if not profile.has_facts:
        return ["deid: the dictionary carries no de-identification facts"]
    under = "Basic Profile" + (f" with {', '.join(sorted(options))}" if options else "")
    by_action = Counter(code or NOT_LISTED for code in codes)
    shown = ", ".join(f"{code} {n}" for code, n in sorted(by_action.items()))
    private = [code for r, code in zip(rows, codes) if r.private]
    unknown = sorted({r.creator for r in rows if r.unknown == "creator" and r.creator})
    return [
        f"deid ({under}): {len(rows)} elements: {shown}",
        f"private elements: {private.count('K')} kept as safe, {private.count('X')} removed",
        "creators not known: " + (", ".join(map(repr, unknown)) if unknown else "none"),
    ]
