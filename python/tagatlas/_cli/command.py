"""What every subcommand shares: its exit statuses, the error it reports, opening its dictionary.

A subcommand module has `add_arguments(parser)` and `run(args) -> int`; `run` returns an exit
status or raises `CommandError`, which `main` reports as one line on stderr with status 2.
"""

from __future__ import annotations

EXIT_OK = 0
EXIT_NOT_FOUND = 1
EXIT_ERROR = 2


class CommandError(Exception):
    """A failure to report as one line on stderr."""


def open_dictionary(path: str | None):
    """The `Dict` of `--dict FILE`, or of the bundled dictionary when `path` is None."""
    try:
        if path is None:
            from .._bundled import open_default

            return open_default()
        from .._tagatlas import open as open_dict

        return open_dict(path)
    except (OSError, ValueError) as e:
        raise CommandError(str(e)) from None


def dictionary_error(e: OSError | ValueError, path: str | None) -> CommandError:
    """The error for a dictionary that a reader of every entry could not open."""
    # read_table's own open reports a missing file as the OS does; say it as `open_dictionary` does.
    if isinstance(e, OSError) and e.filename is not None and e.strerror:
        return CommandError(f"cannot open {path}: {e.strerror}")
    return CommandError(str(e))
