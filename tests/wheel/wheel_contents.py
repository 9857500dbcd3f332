"""Compares a wheel's files with the package folder it was built from.

Usage: wheel_contents.py WHEEL PACKAGE_DIR

Every file of the package folder (its modules, type stubs, markers and everything under data/)
must be in the wheel under the package's name, and the wheel holds nothing else but one compiled
extension module and its .dist-info folder: no C++ headers, libraries or CMake files, no caches.
Prints the wheel's files; exits 1 naming what is missing or unexpected.
"""

import pathlib
import re
import sys
import zipfile

# Files in a working tree that are not the package's: caches and an in-place extension build.
NOT_PACKAGE = re.compile(r"(^|/)__pycache__/|\.pyc$|\.so$")


def main(wheel, package_dir):
    package_dir = pathlib.Path(package_dir)
    name = package_dir.name
    with zipfile.ZipFile(wheel) as archive:
        in_wheel = {n for n in archive.namelist() if not n.endswith("/")}
    for n in sorted(in_wheel):
        print(n)
    expected = {
        f"{name}/{p.relative_to(package_dir).as_posix()}"
        for p in package_dir.rglob("*")
        if p.is_file() and not NOT_PACKAGE.search(p.relative_to(package_dir).as_posix())
    }
    extension = re.compile(rf"{name}/_{name}\.[^/]+\.so$")
    dist_info = re.compile(rf"{name}-[^/]+\.dist-info/[^/]+$")
    missing = sorted(expected - in_wheel)
    extensions = [n for n in in_wheel if extension.fullmatch(n)]
    unexpected = sorted(
        n for n in in_wheel - expected if not extension.fullmatch(n) and not dist_info.fullmatch(n)
    )
    problems = [f"missing from the wheel: {n}" for n in missing]
    problems += [f"not a file of the package: {n}" for n in unexpected]
    if len(extensions) != 1:
        problems.append(f"expected one extension module, found {extensions}")
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
