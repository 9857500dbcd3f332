"""search with very many words: each distinct word is asked once, and a word costs only the
entries that held the words before it."""

import subprocess
import sys

import pytest

from tagatlas.search import search

# Milliseconds once repeated words are merged; minutes when each copy is tested on every entry.
MANY = ["a"] * 20_000


@pytest.mark.parametrize("descriptions", [False, True])
def test_many_words_finish_well_inside_the_guard(descriptions):
    code = ("import sys; from tagatlas.search import search\n"
            "print(len(search(sys.stdin.read().split(), descriptions=%r)))" % descriptions)
    run = subprocess.run([sys.executable, "-c", code], input=" ".join(MANY),
                         capture_output=True, text=True, timeout=60)  # fmt: skip
    assert run.returncode == 0, run.stderr[-2000:]
    assert int(run.stdout) == len(search(["a"], descriptions=descriptions)) > 0


@pytest.mark.parametrize("descriptions", [False, True])
def test_repeated_and_reordered_words_find_the_same_entries(descriptions):
    words = ["birth", "patient", "date"]
    once = search(words, descriptions=descriptions)
    assert once and search(words[::-1] * 50 + ["PATIENT"], descriptions=descriptions) == once
