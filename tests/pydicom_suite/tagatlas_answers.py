"""pytest plugin: pydicom answers its dictionary questions from tagatlas for the whole run.

Loaded with `-p`, it runs before pytest imports any test module, so the tests' own
`from pydicom.datadict import ...` get tagatlas's functions too.
"""

from tagatlas import datadict

datadict.install_in_pydicom()
