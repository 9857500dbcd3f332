"""The Dict class: its fixed attributes, what the interpreter refuses, len, repr, the context
manager protocol and deallocation."""

import gc
import sys
import weakref

import pytest

import tagatlas
import tatl_layout as layout
from tagatlas import Dict
from tagatlas.writer import Entry

TPFLAGS_DISALLOW_INSTANTIATION = 1 << 7
TPFLAGS_IMMUTABLETYPE = 1 << 8
TPFLAGS_HEAPTYPE = 1 << 9
TPFLAGS_BASETYPE = 1 << 10
TPFLAGS_HAVE_GC = 1 << 14


def test_class_identity():
    assert Dict.__name__ == "Dict"
    assert Dict.__qualname__ == "Dict"
    assert Dict.__module__ == "tagatlas._tagatlas"
    assert Dict.__doc__ == "Opaque handle holding an mmap'd dictionary."
    assert Dict.__bases__ == (object,)


def test_flags():
    flags = Dict.__flags__
    assert flags & TPFLAGS_HEAPTYPE
    assert flags & TPFLAGS_DISALLOW_INSTANTIATION
    assert not flags & (TPFLAGS_BASETYPE | TPFLAGS_HAVE_GC | TPFLAGS_IMMUTABLETYPE)


def test_defines_only_its_methods_and_slots():
    own = list(vars(Dict))
    assert set(own) == {"lookup", "__enter__", "__exit__", "__len__", "__repr__", "__doc__",
                        "__module__"}  # fmt: skip
    methods = [name for name in own if name in ("lookup", "__enter__", "__exit__")]
    assert methods == ["lookup", "__enter__", "__exit__"]
    for inherited in ("__eq__", "__hash__", "__getitem__", "__iter__", "__contains__"):
        assert inherited not in own


@pytest.mark.parametrize(
    "method, signature, doc",
    [
        ("lookup", "($self, group, element, creator=None)",
         'Look up a tag. Returns a dict or `None`.\n\n`element` is the low byte for private tags '
         '(the "xx" form).'),
        ("__enter__", "($self)", "Context-manager support (no-op - mmap is released on drop)."),
        ("__exit__", "($self, _exc_type=None, _exc=None, _tb=None)", None),
    ],
)  # fmt: skip
def test_method_docstrings(method, signature, doc):
    descriptor = vars(Dict)[method]
    assert descriptor.__text_signature__ == signature
    assert descriptor.__doc__ == doc


def test_refused_by_the_interpreter(sample):
    with pytest.raises(TypeError, match="cannot create 'tagatlas._tagatlas.Dict' instances"):
        Dict()
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (Dict,), {})
    with pytest.raises(TypeError, match="cannot create weak reference"):
        weakref.ref(sample)
    with pytest.raises(AttributeError):
        sample.colour = "red"
    with pytest.raises(AttributeError):
        sample.lookup = None
    assert not hasattr(sample, "__dict__")


def test_class_attributes_may_be_set():
    Dict.marker = 1
    try:
        assert Dict.marker == 1
    finally:
        del Dict.marker


def test_not_tracked_by_the_cycle_collector(sample):
    assert not gc.is_tracked(sample)


def test_len_and_repr(sample):
    assert len(sample) == 9
    assert repr(sample) == "<tagatlas.Dict len=9>"
    assert bool(sample) is True


def test_empty_dictionary_is_false(write_dict):
    d = tagatlas.open(write_dict([]))
    assert (len(d), repr(d), bool(d)) == (0, "<tagatlas.Dict len=0>", False)


def test_len_counts_index_entries_not_records(write_dict):
    def drop_last_index_entry(data):
        r, _, count, _, _, _, _ = layout.root(data)
        data[r + 4 : r + 8] = (count - 1).to_bytes(4, "little")

    entries = [Entry(0x0010, e, f"K{e}") for e in range(1, 1001)]
    d = tagatlas.open(write_dict(entries, edit=drop_last_index_entry))
    assert len(d) == 999
    assert repr(d) == "<tagatlas.Dict len=999>"
    assert d.lookup(0x0010, 1000) is None


def test_with_statement(sample):
    with sample as entered:
        assert entered is sample
    assert sample.lookup(0x0010, 0x0010)["keyword"] == "PatientName"


def test_with_statement_lets_exceptions_through(sample):
    error = KeyError("inside")
    with pytest.raises(KeyError) as info:
        with sample:
            raise error
    assert info.value is error
    assert sample.lookup(0x0010, 0x0010)["keyword"] == "PatientName"


def test_with_open_binds_the_returned_object(sample_path, held):
    with tagatlas.open(sample_path) as d:
        assert type(d) is Dict
        assert held(sample_path) == (1, 1)
    # Leaving the block releases nothing; the name still holds the object.
    assert held(sample_path) == (1, 1)
    assert d.lookup(0x0008, 0x0020)["keyword"] == "StudyDate"


def test_enter_takes_no_arguments(sample):
    with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)"):
        sample.__enter__(1)
    assert sample.__enter__() is sample


def test_deallocation_releases_the_class_reference(sample_path):
    before = sys.getrefcount(Dict)
    objects = [tagatlas.open(sample_path) for _ in range(50)]
    assert sys.getrefcount(Dict) == before + 50
    del objects
    assert sys.getrefcount(Dict) == before


def test_deallocation_during_exception_handling_keeps_the_exception(sample_path, held):
    try:
        d = tagatlas.open(sample_path)
        raise ValueError("pending")
    except ValueError as e:
        del d
        assert e.args == ("pending",)
        assert sys.exc_info()[1] is e
    assert held(sample_path) == (0, 0)
