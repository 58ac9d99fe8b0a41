"""The package's own tests use the fixtures it offers its users."""

import os
import sys

# Importable from the source tree without installing.
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

pytest_plugins = ["korvelan380.testing", "pytester"]
