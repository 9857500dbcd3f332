"""Reading every entry at once: the columns agree with lookups, on good and on damaged files."""

import os
import subprocess
import sys

import pytest

import tagatlas
import tatl_layout as layout
from conftest import SAMPLE_ENTRIES
from tagatlas.table import DamagedDictionaryError, read_table
from tagatlas.writer import Entry


def lookup_key(table, i):
    return table.key_groups[i], table.key_elements[i], table.creators[i] or None


def test_every_row_of_the_bundled_dictionary_is_its_lookup_result():
    table = read_table()
    d = tagatlas.open_default()
    assert len(table) == len(d) > 28_000
    mismatches = [i for i in range(len(table)) if table.row(i) != d.lookup(*lookup_key(table, i))]
    assert mismatches == []


def test_rows_follow_the_index_order(sample_path):
    table = read_table(sample_path)
    keys = list(zip(table.key_groups, table.key_elements, table.creator_hashes))
    assert keys == sorted(keys) and len(keys) == len(SAMPLE_ENTRIES)
    assert table.keywords[0] == "CommandGroupLength" and table.keywords[-1] == "LastTag"


def swap_first_records(data):
    layout.patch_index(data, 0, record_index=1)
    layout.patch_index(data, 1, record_index=0)


def bad_utf8_name(data):
    layout.patch_pool(data, layout.read_record(data, 1, "name_offset"), b"\x80")


def creator_len_zero_far_offset(data):
    layout.patch_record(data, 4, creator_len=0, creator_offset=0xFFFF_FFF0)


@pytest.mark.parametrize("damage", [swap_first_records, bad_utf8_name, creator_len_zero_far_offset])
def test_columns_read_as_lookups_read(write_dict, damage):
    # Files a writer would not produce but that open: the columns still equal the lookups.
    creators = read_table(write_dict()).creators  # the keys, read before the damage
    path = write_dict(edit=damage)
    table = read_table(path)
    d = tagatlas.open(path)
    for i in range(len(table)):
        key = table.key_groups[i], table.key_elements[i], creators[i] or None
        assert table.row(i) == d.lookup(*key)


def record_beyond_the_records(data):
    layout.patch_index(data, 2, record_index=len(SAMPLE_ENTRIES))


def keyword_beyond_the_pool(data):
    layout.patch_record(data, 3, keyword_len=layout.pool_len(data))


@pytest.mark.parametrize(
    "damage, column, message",
    [
        (record_beyond_the_records, "groups", "an index entry names record 9, the file has 9"),
        (keyword_beyond_the_pool, "keywords", "the keyword of entry 3 reaches byte"),
    ],
)
def test_references_outside_the_tables_raise(write_dict, damage, column, message):
    path = write_dict(edit=damage)
    table = read_table(path)
    with pytest.raises(DamagedDictionaryError, match=message) as info:
        getattr(table, column)
    assert str(path) in str(info.value)


def test_open_errors_name_the_callers_path(tmp_path):
    bad = tmp_path / "bad.tatl"
    bad.write_bytes(b"NOPE" + bytes(60))
    with pytest.raises(OSError) as info:
        read_table(bad)
    assert str(info.value) == f"cannot open {bad}: bad magic bytes [78, 79, 80, 69]"
    with pytest.raises(FileNotFoundError):
        read_table(tmp_path / "absent.tatl")
    version = tmp_path / "next.tatl"
    version.write_bytes(layout.header(version=layout.VERSION + 1) + bytes(24))
    with pytest.raises(ValueError, match=f"unsupported .tatl version {layout.VERSION + 1}"):
        read_table(version)


def test_special_files_are_refused_without_blocking(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    code = f"""
import sys
from tagatlas.table import read_table
for path in ({str(fifo)!r}, {str(tmp_path)!r}, "/dev/null"):
    try:
        read_table(path)
    except OSError as e:
        print(e)
"""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=30)
    assert done.stdout.splitlines() == [
        f"cannot open {fifo}: not a regular file",
        f"cannot open {tmp_path}: not a regular file",
        "cannot open /dev/null: not a regular file",
    ], done.stderr


def test_table_and_dict_read_the_same_file_when_the_path_is_replaced(tmp_path):
    from tagatlas.writer import write

    path = tmp_path / "d.tatl"
    write(path, [Entry(0x0010, 0x0010, "Old", "Old", "PN")])
    table = read_table(path)
    write(path, [Entry(0x0010, 0x0010, "New", "New", "PN")])  # renamed over the old file
    assert table.keywords == ["Old"]
    assert table.dict.lookup(0x0010, 0x0010)["keyword"] == "Old"
