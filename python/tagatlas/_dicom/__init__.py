"""DICOM data as the package meets it: tags, and the readers of DICOM data with their model.

`tag` (tag arguments in pydicom's forms, tags as text), `model` (`Occurrence`, the element a reader
met, and the rules of private groups and creator elements), `dicom_file` (DICOM files through
pydicom), `dicom_json` (DICOM JSON) and `regular` (opening
inputs only when they are regular files). Nothing here imports the package's public modules.
"""
