"""Explaining many inputs at once: walking folders, counting what was read, summarising, progress.

`inputs` turns the paths given into the files to read (folders walked, special files and links to
folders skipped), `run` reads each with `tagatlas.explain.iter_explain` and counts what was read,
skipped and failed, `summary` folds the rows of every file into one row per attribute, and
`progress` keeps a line on a terminal up to date while the work lasts. Rows are taken one file at a
time and never kept, so memory follows the largest file, not the number of files.
"""
