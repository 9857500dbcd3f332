"""Objects that stand in for paths and integers through the protocols the extension calls."""


class FsPath:
    """A path-like object whose `__fspath__` returns `value`, whatever it is."""

    def __init__(self, value):
        self.value = value

    def __fspath__(self):
        return self.value


class FsPathError:
    """A path-like object whose `__fspath__` raises `error` (a class raises a new instance each time)."""

    def __init__(self, error):
        self.error = error

    def __fspath__(self):
        raise self.error


class Index:
    """An integer through `__index__` only."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisingIndex:
    """An object whose `__index__` raises `error`."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error
