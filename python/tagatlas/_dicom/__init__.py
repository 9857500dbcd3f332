"""DICOM data as the package meets it: tags, and the readers of DICOM data with their model.

`tag` (tag arguments in pydicom's forms, tags as text), `model` (`Occurrence`, the element a reader
met, and the rules of private groups and creator elements), `dicom_file` (DICOM files through
pydicom) and `dicom_json` (DICOM JSON). Nothing here imports the package's public modules.
"""
