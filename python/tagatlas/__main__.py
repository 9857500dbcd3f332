"""`python -m tagatlas`: the command line of the `_cli` package."""

import sys

from ._cli import main

sys.exit(main())
