"""The `tagatlas` command line: look up tags, build dictionaries, inspect dictionary files.

    tagatlas lookup GGGG,EEEE [--creator TEXT] [--dict FILE] [--json]
    tagatlas build -o OUT.tatl [--dcmtk FILE]... [--pydicom] [--standard] [--name NAME] [--verbose]
    tagatlas info FILE
    tagatlas search WORDS... [--public|--private] [--creator C] [--retired|--current]
                    [--descriptions] [--json] [--dict FILE]
    tagatlas explain INPUT... [--json|--jsonl] [--summary] [--private-only]
                     [--deid [--deid-option NAME]...] [--dict FILE]

Exit status: 0 on success; 1 when `lookup` finds no entry, `info` finds a file that does not
open, or `explain` could not read a file found in a folder; 2, with one line on stderr, for bad
arguments, for files that cannot be read or written (`info`, `build -o` and the `build` inputs
take only regular files, and `build -o` is never one of the inputs, also through a link), for a
damaged dictionary met by `lookup` or `explain` and for output that cannot be written (a full
disk, a closed standard output). No error shows a traceback.
Text that the output's encoding cannot hold is written as backslash escapes (`\\u03b3`).

Each subcommand is one module of this package with `add_arguments(parser)` and `run(args)`, listed
once in COMMANDS, from which the parser is built; each module's docstring says what it does.
"""

from __future__ import annotations

import argparse
import sys
from types import ModuleType
from typing import NamedTuple, NoReturn

from . import build, explain, info, lookup, search
from .command import EXIT_ERROR, CommandError
from .output import PROG, discard, escaping_streams, report, write_or_discard

__all__ = ["main", "make_parser", "COMMANDS"]


class Command(NamedTuple):
    """A subcommand: its name, its module (`add_arguments`, `run`) and its line in `--help`."""

    name: str
    module: ModuleType
    summary: str


# The subcommands, in the order `tagatlas --help` lists them.
COMMANDS: tuple[Command, ...] = (
    Command("lookup", lookup, "look up a tag"),
    Command("build", build, "build a dictionary from DCMTK files and/or pydicom"),
    Command("info", info, "show a dictionary file's counts and whether it opens"),
    Command("search", search, "find entries by words of their keyword or name"),
    Command("explain", explain, "name every data element of a DICOM file or DICOM JSON"),
)


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        self.exit(EXIT_ERROR, f"{PROG}: error: {message} (see {self.prog} --help)\n")

    def _print_message(self, message: str, file=None) -> None:
        # Help goes to stdout, whose failures main() reports; errors go to stderr.
        if message and file is sys.stdout:
            file.write(message)
        elif message:
            write_or_discard(file or sys.stderr, message)


def make_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=PROG, description="DICOM data-element dictionary lookups.")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in COMMANDS:
        p = sub.add_parser(command.name, help=command.summary)
        command.module.add_arguments(p)
        p.set_defaults(run=command.module.run)
    return parser


def main(argv: list[str] | None = None) -> int:
    with escaping_streams():
        if sys.stdout is None:
            # Python found descriptor 1 closed at start: whatever we print would vanish.
            report("cannot write output: standard output is closed")
            return EXIT_ERROR
        try:
            args = make_parser().parse_args(argv)
            status = args.run(args)
            sys.stdout.flush()
        except CommandError as e:
            report(str(e))
            return EXIT_ERROR
        except BrokenPipeError:
            # The reader of our output went away (`| head`); say nothing more, as other tools do.
            discard(sys.stdout)
            return EXIT_ERROR
        except OSError as e:
            # The commands turn their own file errors into CommandError: this is our output.
            discard(sys.stdout)
            report(f"cannot write output: {e.strerror or e}")
            return EXIT_ERROR
        return status
