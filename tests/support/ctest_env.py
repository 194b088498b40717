"""What CTest hands a test module: the paths each area's CMakeLists.txt sets in the environment."""

import os
from pathlib import Path

import pytest


def env_path(name, area, hint=""):
    """The path in the variable `name`. Outside CTest it is not set: the test fails and says how
    to run the `area` tests."""
    value = os.environ.get(name)
    if not value:
        pytest.fail(f"{name} is not set{hint}: run the {area} tests through CTest")
    return Path(value)
