"""Importers: each reads one kind of dictionary source into writer entries.

`dcmtk` reads DCMTK's `.dic` text files, `pydicom_tables` reads pydicom's tables; both return an
`ImportResult` (see `result`) with one entry per lookup key and a report of what they left out.
"""
