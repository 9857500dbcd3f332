"""The sources manifest that sits beside a built dictionary: which editions it was built from.

For `default.tatl` it is `default.sources.json` in the same folder (for a file not ending in
".tatl", the name plus ".sources.json"). It maps each source's short name, as entries list it in
their `sources`, to its title, edition, version and the SHA-256 of each input file:

    {"sources": {"ps3.6": {"title": "PS3.6 2026c", "edition": "2026c", "version": "",
                           "files": [{"name": "tags.ts", "sha256": "25ca..."}]}, ...}}

`tagatlas info` prints its titles as the `built from:` line. The dictionary file itself has no
place for them; a file without a manifest beside it says nothing about its sources.
"""

from __future__ import annotations

import hashlib
import json
import os
from collections.abc import Mapping, Sequence

SUFFIX = ".sources.json"


def manifest_path(path: str | os.PathLike[str]) -> str:
    """Where the manifest of the dictionary at `path` is."""
    path = os.fspath(path)
    stem = path[: -len(".tatl")] if path.endswith(".tatl") else path
    return stem + SUFFIX


def sha256_file(path: str | os.PathLike[str]) -> str:
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()


def make_manifest(
    sources: Sequence[tuple[object, Sequence[str | os.PathLike[str]], str]],
) -> dict:
    """The manifest of a build: (registry `Source`, its files, version) for each source used."""
    return {
        "sources": {
            source.name: {
                "title": source.title,
                "edition": source.edition,
                "version": version,
                "files": [
                    {"name": os.path.basename(os.fspath(p)), "sha256": sha256_file(p)}
                    for p in files
                ],
            }
            for source, files, version in sources
        }
    }  # fmt: skip


def encode_manifest(manifest: Mapping) -> bytes:
    return (json.dumps(manifest, indent=2, ensure_ascii=False) + "\n").encode("utf-8")


def read_manifest(path: str | os.PathLike[str]) -> dict | None:
    """The manifest beside the dictionary at `path`, or None when there is none.

    A manifest that is not JSON of the documented shape raises ValueError.
    """
    try:
        with open(manifest_path(path), "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return None
    manifest = json.loads(data)
    sources = manifest.get("sources") if isinstance(manifest, dict) else None
    if not isinstance(sources, dict) or not all(
        isinstance(v, dict) and isinstance(v.get("title"), str) for v in sources.values()
    ):
        raise ValueError(f"{manifest_path(path)}: not a sources manifest")
    return manifest


def built_from(manifest: Mapping) -> str:
    """The sources' titles in the manifest's order: "PS3.6 2026c, PS3.15 2026c, ..."."""
    return ", ".join(v["title"] for v in manifest["sources"].values())
