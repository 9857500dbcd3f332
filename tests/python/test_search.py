"""Finding entries by words: word starts, filters, one hit per repeating tag, the command line."""

import json

import pytest

from tagatlas._cli import main
from tagatlas.search import search
from tagatlas.table import read_table
from tagatlas.writer import Entry, write
from conftest import run_cli as run

ENTRIES = [
    Entry(0x0008, 0x0020, "StudyDate", "Study Date", "DA",
          description="VM 1\nDate the Study started."),
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", description="VM 1"),
    Entry(0x0010, 0x0030, "PatientBirthDate", "Patient's Birth Date", "DA"),
    Entry(0x0018, 0x1210, "ConvolutionKernel", "Convolution Kernel", "SH"),
    Entry(0x0028, 0x0040, "ImageFormat", "Image Format", "CS", retired=True),
    Entry(0x0028, 0x3002, "LUTDescriptor", "LUT Descriptor", "??",
          description="VM 3; VR US or SS"),
    Entry(0x1000, 0x0000, "EscapeTriplet", "Escape Triplet", "US", retired=True,
          description="VM 3; mask 1000xxx0"),
    Entry(0x1000, 0x0010, "EscapeTriplet", "Escape Triplet", "US", retired=True,
          description="VM 3; mask 1000xxx0"),
    *[Entry(g, 0x3000, "OverlayData", "Overlay Data", "??",
            description="VM 1; VR OB or OW; mask 60xx3000") for g in range(0x6000, 0x6100, 2)],
    *[Entry(g, 0x04, "TextAnnotation", "Text Annotation", "LO", creator="DLX_ANNOT_01",
            block_offset=True, description="VM 1; mask 70xxxx04")
      for g in range(0x7001, 0x7100, 2)],
    Entry(0x0019, 0x0C, "AcqLen", "Acquisition Length", "DS", creator="GEMS_ACQU_01",
          block_offset=True, sources=("dcmtk",)),
    Entry(0x0019, 0x0C, "", "Acquisition Other", "US", creator="ACME"),
    Entry(0x0029, 0x1010, "AcmeFull", "Acme Full Element", "UL", creator="ACME"),
]  # fmt: skip


@pytest.fixture(scope="module")
def dict_path(tmp_path_factory):
    path = tmp_path_factory.mktemp("s") / "s.tatl"
    write(path, ENTRIES)
    return path


@pytest.mark.parametrize(
    "words, filters, tags",
    [
        (["patient"], {}, ["(0010,0010)", "(0010,0030)"]),
        (["PATIENT", "birth"], {}, ["(0010,0030)"]),
        (["birthdate"], {}, ["(0010,0030)"]),  # across the keyword's word starts
        (["date", "birth"], {}, ["(0010,0030)"]),  # any order
        (["lut"], {}, ["(0028,3002)"]),  # not ConvolutionKernel: a word start only
        (["patient's"], {}, ["(0010,0010)", "(0010,0030)"]),
        (["'s"], {}, ["(0010,0010)", "(0010,0030)"]),
        (["overlay"], {}, ["(60xx,3000)"]),  # 128 entries, one hit
        (["annotation"], {}, ["(70xx,xx04)"]),
        (["escape"], {}, ["(1000,xxx0)"]),
        (["acquisition"], {}, ["(0019,000C)", "(0019,xx0C)"]),  # by tag, then creator
        (["acquisition"], {"creator": " gems_acqu_01"}, ["(0019,xx0C)"]),
        (["acquisition"], {"private": False}, []),
        (["acme"], {"private": True}, ["(0029,1010)"]),
        ([""], {"creator": "acme"}, ["(0019,000C)", "(0029,1010)"]),
        ([""], {"retired": True}, ["(0028,0040)", "(1000,xxx0)"]),
        (["format"], {"retired": False}, []),
        (["started"], {}, []),
        (["started"], {"descriptions": True}, ["(0008,0020)"]),
        (["study", "started"], {"descriptions": True}, ["(0008,0020)"]),
        (["nothing"], {}, []),
    ],
)
def test_search(dict_path, words, filters, tags):
    assert [h.tag for h in search(words, dictionary=dict_path, **filters)] == tags


def test_hit_fields(dict_path):
    table = read_table(dict_path)  # an EntryTable is searched as its file
    (overlay,) = search(["overlay", "data"], dictionary=table)
    assert overlay._asdict() == {
        "tag": "(60xx,3000)", "group": 0x6000, "element": 0x3000, "creator": None,
        "keyword": "OverlayData", "name": "Overlay Data", "vr": "OB or OW", "vm": "1",
        "mask": "60xx3000", "retired": False, "block_offset": False, "sources": [], "text": "",
    }  # fmt: skip
    (study,) = search(["started"], descriptions=True, dictionary=table)
    assert (study.text, study.vr, study.vm) == ("Date the Study started.", "DA", "1")
    (annotation,) = search(["text", "annotation"], dictionary=table)
    assert (annotation.group, annotation.creator, annotation.block_offset) == (
        0x7001, "DLX_ANNOT_01", True)  # fmt: skip


def test_bundled_dictionary_shows_masks_once():
    hits = search(["overlay", "data"], private=False)
    assert [h.tag for h in hits].count("(60xx,3000)") == 1
    assert [h.tag for h in search(["text", "annotation"], creator="dlx_annot_01")] == [
        "(70xx,xx04)"]  # fmt: skip
    keys = [(h.group, h.element) for h in search(["date"])]
    assert keys == sorted(keys) and len(keys) > 50


# ---------------------------------------------------------------------------------------------
# the command line


def test_cli_text(capsys, dict_path):
    status, out, err = run(capsys, "search", "acquisition", "--dict", dict_path)
    assert (status, err) == (0, "")
    assert out.splitlines() == [
        "TAG          KEYWORD  NAME                VR  CREATOR       RETIRED",
        "(0019,000C)           Acquisition Other   US  ACME",
        "(0019,xx0C)  AcqLen   Acquisition Length  DS  GEMS_ACQU_01",
    ]
    status, out, _ = run(capsys, "search", "escape", "--retired", "--public", "--dict", dict_path)
    assert status == 0 and out.splitlines()[1].split() == [
        "(1000,xxx0)", "EscapeTriplet", "Escape", "Triplet", "US", "retired"]  # fmt: skip


def test_cli_descriptions_show_the_text(capsys, dict_path):
    status, out, _ = run(capsys, "search", "started", "--descriptions", "--dict", dict_path)
    assert status == 0 and out.splitlines()[2] == "    Date the Study started."


def test_cli_json(capsys, dict_path):
    status, out, _ = run(capsys, "search", "patient", "--json", "--current", "--dict", dict_path)
    assert status == 0
    assert [h["keyword"] for h in json.loads(out)] == ["PatientName", "PatientBirthDate"]


@pytest.mark.parametrize("json_flag", [False, True])
def test_cli_no_match(capsys, dict_path, json_flag):
    argv = ["search", "zzz", "nothing", "--dict", dict_path] + (["--json"] if json_flag else [])
    status, out, err = run(capsys, *argv)
    message = "no entry matches 'zzz' 'nothing'\n"
    assert (status, out, err) == ((1, "[]\n", message) if json_flag else (1, message, ""))


@pytest.mark.parametrize(
    "argv, message",
    [
        (["x", "--public", "--creator", "ACME"],
         "tagatlas: error: --creator selects private entries; it cannot go with --public\n"),
        (["x", "--dict", "{missing}"], "tagatlas: error: cannot open {missing}: "),
        (["x", "--creator", "GE\udce9"],
         "tagatlas: error: --creator 'GE\\udce9' is not valid UTF-8"),
    ],
)  # fmt: skip
def test_cli_errors(capsys, tmp_path, argv, message):
    missing = tmp_path / "absent.tatl"
    status, out, err = run(capsys, "search", *[a.format(missing=missing) for a in argv])
    assert (status, out) == (2, "")
    assert err.startswith(message.format(missing=missing)) and err.count("\n") == 1


@pytest.mark.parametrize(
    "argv", [[], ["x", "--public", "--private"], ["x", "--retired", "--current"]]
)
def test_cli_argument_errors(capsys, argv):
    with pytest.raises(SystemExit) as info:
        main(["search", *argv])
    _, err = capsys.readouterr()
    assert info.value.code == 2 and err.count("\n") == 1
