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


class Actions:
    """The action of each explained row under one profile and options, counted as they go by,
    so that the closing summary needs no row kept."""

    def __init__(self, profile, options: frozenset[str]) -> None:
        self.profile = profile
        self.options = options
        self._elements = 0
        self._by_action: Counter = Counter()
        self._private: Counter = Counter()
        self._unknown: set[str] = set()

    def action(self, group: int, element: int, creator: str | None) -> str | None:
        return self.profile.action(group, element, creator, options=self.options)

    def code(self, r) -> str | None:
        """The row's action code, None where the profile lists nothing (or knows nothing);
        counted for the summary."""
        code = self.action(int(r.tag[:4], 16), int(r.tag[5:], 16), r.creator)
        self._elements += 1
        self._by_action[code or NOT_LISTED] += 1
        if r.private:
            self._private[code] += 1
        if r.unknown == "creator" and r.creator:
            self._unknown.add(r.creator)
        return code

    def private_kept_removed(self) -> tuple[int, int]:
        """The private elements counted so far that are kept as safe ("K") and removed ("X")."""
        return self._private["K"], self._private["X"]

    def summary_lines(self) -> list[str]:
        """The closing summary of `explain --deid`."""
        if not self.profile.has_facts:
            return ["deid: the dictionary carries no de-identification facts"]
        options = self.options
        under = "Basic Profile" + (f" with {', '.join(sorted(options))}" if options else "")
        shown = ", ".join(f"{code} {n}" for code, n in sorted(self._by_action.items()))
        unknown = sorted(self._unknown)
        return [
            f"deid ({under}): {self._elements} elements: {shown}",
            "private elements: {} kept as safe, {} removed".format(*self.private_kept_removed()),
            "creators not known: " + (", ".join(map(repr, unknown)) if unknown else "none"),
        ]
