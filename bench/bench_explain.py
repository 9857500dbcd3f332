"""`tagatlas.explain` against pydicom's dictionary functions, on pydicom's own test files.

Prints times summed over the files and ratios (tagatlas / pydicom; below 1 means tagatlas is
faster), all measured in this one run:

- naming: the same elements (read once from each file, creators resolved) named by tagatlas and
  by `pydicom.datadict.get_entry` / `get_private_entry`, both building the same `Explained` rows.
  tagatlas three ways: with the one shared `Namer` that `explain` uses for the bundled dictionary
  (warm after the first round, as in a process that explains many files), with a fresh `Namer`
  per file (opening the dictionary each time), and looking every element up again (no reuse);
- end to end: `explain(path)` against `dcmread` + `Dataset.iterall()` + the same pydicom naming.

pydicom's dictionaries are imported before any timing, so the ratios are for a warm process.

Run: python bench/bench_explain.py [--rounds N]  (needs the package and pydicom installed)
"""

from __future__ import annotations

import argparse
import os
import timeit
import warnings

from tagatlas._dicom import dicom_file
from tagatlas.explain import explain
from tagatlas._dicom.model import creator_slot, is_creator_element, is_private_group
from tagatlas._dicom.tag import tag_text
from tagatlas.naming import Explained, Namer, default_namer


def pydicom_namer():
    """Names an occurrence with pydicom's dictionary functions, into the same row type."""
    from pydicom import datadict

    get_entry, get_private_entry = datadict.get_entry, datadict.get_private_entry

    def name(o) -> Explained:
        group, element, vr, creator = o.group, o.element, o.vr, o.creator
        private = is_private_group(group)
        tag = group << 16 | element
        unknown = match = None
        keyword = entry_name = vm = ""
        dictionary_vr = None
        retired = False
        if is_creator_element(group, element):
            keyword, entry_name, dictionary_vr, vm, match = (
                "PrivateCreator", "Private Creator", "LO", "1", "rule")
        elif private and creator_slot(element) is not None:
            if creator is None:
                unknown = "no creator"
            else:
                try:
                    dictionary_vr, vm, entry_name, flag = get_private_entry(tag, creator)
                    retired, match = flag == "Retired", "private"
                except KeyError:
                    unknown = "element"
        else:
            try:
                dictionary_vr, vm, entry_name, flag, keyword = get_entry(tag)
                retired, match = flag == "Retired", "public"
            except KeyError:
                if element == 0:
                    keyword, entry_name, dictionary_vr, vm, match = (
                        "GroupLength", "Group Length", "UL", "1", "rule")
                else:
                    unknown = "tag"
        differs = bool(vr and dictionary_vr and vr not in dictionary_vr.split(" or "))
        return Explained(
            path=o.path, tag=tag_text(group, element, parentheses=False), private=private,
            creator=creator if private else None, vr=vr, vr_differs=differs, keyword=keyword,
            name=entry_name, dictionary_vr=dictionary_vr, vm=vm, retired=retired, sources=(),
            mask=None, match=match, unknown=unknown, text="",
        )  # fmt: skip

    return name


def pydicom_end_to_end(path):
    """What a pydicom user writes: read, walk every element, name each with the dictionary."""
    import pydicom
    from pydicom.datadict import get_entry, get_private_entry

    ds = pydicom.dcmread(path, defer_size=dicom_file.DEFER_SIZE, force=True)
    rows = []
    for elem in [*ds.file_meta.iterall(), *ds.iterall()] if ds.file_meta else ds.iterall():
        tag = elem.tag
        try:
            if tag.is_private and not tag.is_private_creator and elem.private_creator:
                rows.append(get_private_entry(tag, elem.private_creator))
            else:
                rows.append(get_entry(tag))
        except KeyError:
            rows.append(None)
    return rows


def best(function, rounds):
    return min(timeit.repeat(function, number=1, repeat=rounds))


def test_files():
    from pydicom.data import get_testdata_file

    folder = os.path.dirname(get_testdata_file("CT_small.dcm"))
    paths = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not name.endswith(".dcm") or not os.path.isfile(path):
            continue
        try:
            explain(path)
        except (ValueError, OSError):
            continue  # not a file explain reads (damaged beyond reading, no preamble)
        paths.append(path)
    return paths


def report(label, ours, theirs):
    ratio = ours / theirs
    print(f"{label:<44} {ours * 1e3:9.2f} ms vs {theirs * 1e3:9.2f} ms   ratio {ratio:6.3f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7, help="timing repetitions (best is kept)")
    args = parser.parse_args()
    warnings.simplefilter("ignore")  # pydicom warns about its damaged test files

    import pydicom.datadict  # noqa: F401  (imported before timing: a warm process)

    paths = test_files()
    name_pydicom = pydicom_namer()
    read = {p: list(dicom_file.occurrences(dicom_file.read(p, force=True), Namer().is_sequence))
            for p in paths}  # fmt: skip
    count = sum(map(len, read.values()))
    print(f"{len(paths)} files, {count} data elements\n")

    shared = default_namer()

    def ours_shared():
        for found in read.values():
            for o in found:
                shared.name(o)

    def ours_fresh():
        for found in read.values():
            namer = Namer()
            for o in found:
                namer.name(o)

    def ours_uncached():
        namer = Namer()
        for found in read.values():
            for o in found:
                namer._known.clear()  # look every element up again
                namer.name(o)

    def theirs():
        for found in read.values():
            for o in found:
                name_pydicom(o)

    # The two namers agree on what they both know.
    for found in read.values():
        namer = Namer()
        for o in found:
            a, b = namer.name(o), name_pydicom(o)
            if a.unknown is None and b.unknown is None and not a.private:
                assert (a.keyword or b.keyword) == b.keyword or not b.keyword, (a, b)

    rounds = args.rounds
    t_theirs = best(theirs, rounds)
    t_shared = best(ours_shared, rounds)
    report("naming: shared Namer vs pydicom functions", t_shared, t_theirs)
    report("naming: a fresh Namer per file", best(ours_fresh, rounds), t_theirs)
    report("naming: every element looked up again", best(ours_uncached, rounds), t_theirs)
    print(f"  per element: {t_shared / count * 1e9:.0f} ns (shared) vs "
          f"{t_theirs / count * 1e9:.0f} ns")  # fmt: skip

    t_explain = best(lambda: [explain(p) for p in paths], rounds)
    t_pydicom = best(lambda: [pydicom_end_to_end(p) for p in paths], rounds)
    print()
    report("end to end: explain vs dcmread+iterall+naming", t_explain, t_pydicom)


if __name__ == "__main__":
    main()
