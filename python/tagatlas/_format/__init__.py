"""The `.tatl` file format for the package's Python code.

`layout` (byte offsets, sizes and field orders), `vr` (the VR code table), `creator` (a private
creator's canonical form and index hash) with its generated `casemap`, and `filekind` (the kinds
of file refused as dictionaries or as write targets). Nothing here imports the package's public
modules.
"""
