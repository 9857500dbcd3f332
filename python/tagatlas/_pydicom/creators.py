"""Whether the dictionary knows a private creator at all, as pydicom's messages need to tell.

The file's index holds each entry's creator hash; a creator whose hash is not among them has no
entry. A hash that is there is confirmed by looking one of its entries up with the creator, since
two creators may share a hash. The answers are kept per file, a few thousand at most.
"""

from __future__ import annotations

from .. import datadict

_LIMIT = 4096
_seen: dict = {"table": None, "hashes": None, "answers": {}}


def creator_known(creator: object) -> bool:
    """Whether the dictionary in use, or an added entry, has an entry of `creator`."""
    if not isinstance(creator, str):
        return False
    table = datadict._state.table
    if _seen["table"] is not table:
        _seen.update(table=table, hashes=None, answers={})
    answers = _seen["answers"]
    known = answers.get(creator)
    if known is None:
        known = _in_file(table, creator)
        if len(answers) >= _LIMIT:
            answers.clear()
        answers[creator] = known
    return known or _added(creator)


def _added(creator: str) -> bool:
    added = datadict._state.added_private
    if not added:
        return False
    key = datadict._creator_key(creator)
    return any(k[0] == key for k in list(added))


def _in_file(table, creator: str) -> bool:
    from ..elements import same_creator
    from .._format.creator import hash_creator

    if _seen["hashes"] is None:
        _seen["hashes"] = set(table.creator_hashes)
    try:
        wanted = hash_creator(creator)
    except UnicodeEncodeError:  # lone surrogates: no stored creator has them
        return False
    if wanted not in _seen["hashes"]:
        return False
    hashes, d, position = table.creator_hashes, table.dict, -1
    while True:
        try:
            position = hashes.index(wanted, position + 1)
        except ValueError:
            return False
        try:
            row = d.lookup(table.key_groups[position], table.key_elements[position], creator)
        except UnicodeEncodeError:
            return False
        if row is not None and same_creator(row["creator"], creator):
            return True
