"""Argument binding of every entry point that takes arguments: the exact TypeError texts and the
order in which problems are found."""

import pytest

import tagatlas


class Spelled(str):
    """A keyword whose str() differs from its text."""

    def __str__(self):
        return "spelled-differently"


# (entry point, positional arguments, keyword arguments, message)
CASES = [
    ("open", (), {}, "open() missing 1 required positional argument: 'path'"),
    ("open", ("a", "b"), {}, "open() takes 1 positional arguments but 2 were given"),
    ("open", ("a", "b", "c"), {}, "open() takes 1 positional arguments but 3 were given"),
    ("open", ("a",), {"path": "b"}, "open() got multiple values for argument 'path'"),
    ("open", (), {"name": "a"}, "open() got an unexpected keyword argument 'name'"),
    ("open", (), {"path": "a", "mode": "r"}, "open() got an unexpected keyword argument 'mode'"),
    # positional count is tested before any keyword
    ("open", ("a", "b"), {"name": "c"}, "open() takes 1 positional arguments but 2 were given"),
    ("lookup", (1,), {}, "Dict.lookup() missing 1 required positional argument: 'element'"),
    ("lookup", (), {"element": 1},
     "Dict.lookup() missing 1 required positional argument: 'group'"),
    ("lookup", (), {"creator": None},
     "Dict.lookup() missing 2 required positional arguments: 'group' and 'element'"),
    ("lookup", (), {},
     "Dict.lookup() missing 2 required positional arguments: 'group' and 'element'"),
    ("lookup", (1, 2, 3, 4), {},
     "Dict.lookup() takes from 2 to 3 positional arguments but 4 were given"),
    ("lookup", (1, 2, 3, 4, 5), {"colour": 1},
     "Dict.lookup() takes from 2 to 3 positional arguments but 5 were given"),
    ("lookup", (1, 2), {"creator": "x", "colour": "red"},
     "Dict.lookup() got an unexpected keyword argument 'colour'"),
    # keywords are examined before missing arguments
    ("lookup", (), {"colour": "red"}, "Dict.lookup() got an unexpected keyword argument 'colour'"),
    ("lookup", (1,), {"group": 1}, "Dict.lookup() got multiple values for argument 'group'"),
    ("lookup", (1, 2, None), {"creator": None},
     "Dict.lookup() got multiple values for argument 'creator'"),
    ("lookup", (1,), {"element": 2, "group": 3},
     "Dict.lookup() got multiple values for argument 'group'"),
    # the first bad keyword in call order decides
    ("lookup", (1, 2), {"b": 1, "a": 2}, "Dict.lookup() got an unexpected keyword argument 'b'"),
    ("lookup", (1,), {"group": 1, "colour": 2},
     "Dict.lookup() got multiple values for argument 'group'"),
    ("lookup", (1, 2), {"Creator": "x"},
     "Dict.lookup() got an unexpected keyword argument 'Creator'"),
    ("lookup", (1, 2), {"créateur": "x"},
     "Dict.lookup() got an unexpected keyword argument 'créateur'"),
    ("lookup", (1, 2), {"\udcff": "x"},
     "Dict.lookup() got an unexpected keyword argument '\udcff'"),
    ("lookup", (1, 2), {Spelled("colour"): "x"},
     "Dict.lookup() got an unexpected keyword argument 'spelled-differently'"),
    ("__exit__", (1, 2, 3, 4), {},
     "Dict.__exit__() takes from 0 to 3 positional arguments but 4 were given"),
    ("__exit__", (), {"exc": None}, "Dict.__exit__() got an unexpected keyword argument 'exc'"),
    ("__exit__", (None,), {"_exc_type": None},
     "Dict.__exit__() got multiple values for argument '_exc_type'"),
    ("__exit__", (None, None, None), {"_tb": None},
     "Dict.__exit__() got multiple values for argument '_tb'"),
]  # fmt: skip


def entry_point(sample, name):
    return tagatlas.open if name == "open" else getattr(sample, name)


@pytest.mark.parametrize("name, args, kwargs, message", CASES)
def test_binding_error_message(sample, name, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        entry_point(sample, name)(*args, **kwargs)
    assert type(info.value) is TypeError
    assert info.value.args == (message,)
    # Binding fails before any argument is converted, so no argument is named in a note.
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((0x0010, 0x0010), {}),
        ((0x0010, 0x0010, None), {}),
        ((0x0010,), {"element": 0x0010}),
        ((), {"group": 0x0010, "element": 0x0010}),
        ((), {"element": 0x0010, "group": 0x0010, "creator": None}),
        ((), {"creator": None, "element": 0x0010, "group": 0x0010}),
        ((0x0010,), {Spelled("element"): 0x0010}),
    ],
)
def test_lookup_binds_by_position_and_keyword(sample, args, kwargs):
    assert sample.lookup(*args, **kwargs)["keyword"] == "PatientName"


def test_binding_error_comes_before_conversion(sample):
    # "x" is no valid group, but the surplus argument is reported first.
    with pytest.raises(TypeError, match="takes from 2 to 3 positional arguments"):
        sample.lookup("x", 2, b"creator", 4)


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), ((None, None, None), {}), ((), {"_tb": object()}),
     ((), {"_exc_type": 1, "_exc": 2, "_tb": 3}), ((ValueError, ValueError("x"), None), {})],
)  # fmt: skip
def test_exit_accepts_up_to_three_arguments(sample, args, kwargs):
    assert sample.__exit__(*args, **kwargs) is False


def test_open_binds_path_by_keyword(sample_path):
    assert len(tagatlas.open(path=sample_path)) == len(tagatlas.open(sample_path))
