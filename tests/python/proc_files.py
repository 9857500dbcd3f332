"""What this process holds of a file, read from Linux's /proc; also imported by child processes."""

import os
import pathlib


def held_by_this_process(path):
    """(descriptors open on path, mappings of path) in this process."""
    target = os.fsencode(os.path.realpath(path))
    fds = 0
    for name in os.listdir("/proc/self/fd"):
        try:
            if os.fsencode(os.readlink(f"/proc/self/fd/{name}")) == target:
                fds += 1
        except OSError:
            pass  # the descriptor of the listing itself is gone by now
    maps = sum(
        1 for line in pathlib.Path("/proc/self/maps").read_bytes().splitlines()
        if line.endswith(b" " + target)
    )  # fmt: skip
    return fds, maps
