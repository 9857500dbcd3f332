"""A smoke test of an installed tagatlas, run by scripts/test-wheel.sh in a fresh venv holding
only the wheel, from a folder outside the checkout: what a user does first.

Usage: python -I smoke.py VERSION
"""

import json
import pathlib
import subprocess
import sys

import tagatlas
from tagatlas import datadict
from tagatlas.explain import explain
from tagatlas.search import search


def check(condition, what):
    if not condition:
        sys.exit(f"smoke test failed: {what}")


def run(*argv):
    done = subprocess.run(argv, capture_output=True, text=True)
    check(done.returncode == 0, f"{argv} exited {done.returncode}: {done.stderr}")
    return done.stdout


def main(version):
    package = pathlib.Path(tagatlas.__file__).resolve().parent
    venv = pathlib.Path(sys.prefix).resolve()
    check(venv in package.parents, f"tagatlas imported from {package}, not from the venv {venv}")
    check(tagatlas.__version__ == version, f"__version__ {tagatlas.__version__}, wheel {version}")

    d = tagatlas.open_default()
    check(d.lookup(0x0010, 0x0010)["keyword"] == "PatientName", "lookup of (0010,0010)")
    check(d.lookup(0x0019, 0x12, " gems_acqu_01")["keyword"] == "LastPseq", "a private lookup")

    check(datadict.keyword_for_tag(0x00100010) == "PatientName", "datadict.keyword_for_tag")
    entry = datadict.get_private_entry(0x00191012, "GEMS_ACQU_01")
    check(entry[:3] == ("SS", "1", "Last pseq"), "datadict.get_private_entry")

    hits = search(["patient", "birth", "date"])
    check("PatientBirthDate" in {h.keyword for h in hits}, "search for patient birth date")

    document = {
        "00100010": {"vr": "PN", "Value": [{"Alphabetic": "Doe^Jane"}]},
        "00190010": {"vr": "LO", "Value": ["GEMS_ACQU_01"]},
        "00191012": {"vr": "SS", "Value": [1]},
    }
    path = pathlib.Path("smoke.json")
    path.write_text(json.dumps(document))
    rows = {row.tag: row for row in explain(str(path))}
    check(rows["0010,0010"].keyword == "PatientName", "explain of a public element")
    private = rows["0019,1012"]
    check((private.creator, private.keyword) == ("GEMS_ACQU_01", "LastPseq"), "explain, private")

    script = pathlib.Path(sys.executable).parent / "tagatlas"
    check("PatientName" in run(str(script), "lookup", "0010,0010"), "tagatlas lookup")
    check("LastPseq" in run(str(script), "explain", str(path)), "tagatlas explain")
    check("PatientName" in run(sys.executable, "-m", "tagatlas", "lookup", "0010,0010"),
          "python -m tagatlas lookup")
    print(f"smoke test passed: tagatlas {version} from {package}")


if __name__ == "__main__":
    main(*sys.argv[1:])
